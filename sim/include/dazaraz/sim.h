// sim.h - a controller on the master side of a pseudo-terminal.
//
// The simulator opens a pty pair and plays one controller on its master side,
// so that the driver (or a test) can open the slave side by its path as if it
// were a serial port. A background thread assembles request frames (STX ... CR),
// checks them, answers them from a 64 Ki byte memory, and paces its output at
// a chosen line speed. Faults can be injected on the replies, and every request
// is recorded with its arrival time and the reply that went out.
//
// Protocol in short (all numbers upper-case hexadecimal text):
//   request  STX "00" CMD fields SUM CR        SUM: low 8 bits of the byte sum
//   reply    STX "00" "00" CMD data SUM CR     of everything between STX and SUM
//   refusal  NAK "00" station CMD SUM CR       (10 bytes, like an acknowledgement)
//   12 CPU start          no fields                       -> acknowledgement
//   32 set-up             "000001" ADDR | "000002" ADDR ADDR -> acknowledgement
//   33 fetch              same fields as the set-up          -> two digits per set-up address
//   40 bit write          ADDR BYTE                          -> acknowledgement
//   41 word write         ADDR WORD (high byte at ADDR)      -> acknowledgement
//
// All member functions of Simulator are thread-safe.
#ifndef DAZARAZ_SIM_H
#define DAZARAZ_SIM_H

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace dazaraz::sim {

// Output pacing. A reply byte is handed to the pty only when it would have
// arrived over a line of this speed. baud 0 switches pacing off.
struct LineSpeed {
    unsigned baud = 9600;
    unsigned bitsPerChar = 10;  // start + data + parity + stop bits (7E1: 10)

    // Time on the line of one character; zero when pacing is off.
    std::chrono::nanoseconds CharTime() const;
};

// Parses "BAUD" or "BAUD,FRAME" where FRAME is data bits (5-8), a parity
// letter (N, O, E, M or S, either case) and stop bits (1 or 2), e.g.
// "9600,7E1" or "19200,8N1". "0" turns pacing off. On failure answers false,
// leaves *out alone and, when error is given, says why.
bool ParseLine(std::string_view text, LineSpeed *out, std::string *error = nullptr);

enum class FaultKind {
    Nak,            // refuse the request with a 10-byte NAK reply; the request has no effect
    PaddedNak,      // as Nak, but a fetch refusal is padded with '0' data to the fetch reply's length
    Silence,        // no reply at all (the request still takes effect)
    WrongChecksum,  // checksum one higher than it should be
    LowerCaseChecksum,  // checksum digits in lower case (numerically right)
    Truncate,       // only the first `size` bytes of the reply go out
    NoStx,          // first byte replaced by '?'
    NoCr,           // the closing CR replaced by '?'
    WrongEcho,      // echoed station and command become "9999" (checksum still right)
    ExtraBytes,     // `extra` appended after the reply
    Bursts,         // reply sent in pieces of `size` bytes with `delay` between pieces
    DelayReply,     // `delay` before the first byte
    DelayBytes,     // `delay` added between consecutive bytes
};

// One fault on the replies. It applies to the next `times` requests that match
// `command` (0 matches every request, even one whose command cannot be read),
// or to all of them until ClearFaults when `times` is 0. Several faults may be
// active at once; every matching one applies to the same reply. The content
// is changed in this order: NAK, echo, checksum, lower case, STX, CR, extra
// bytes, truncation; the timing faults then shape how it is sent. Faults
// other than Nak and PaddedNak do not stop the request from taking effect:
// they spoil the reply on its way back.
struct Fault {
    FaultKind kind = FaultKind::Nak;
    int command = 0;
    unsigned times = 1;
    std::size_t size = 0;                    // Truncate: bytes kept; Bursts: bytes per piece
    std::chrono::milliseconds delay{0};      // DelayReply, DelayBytes, Bursts
    std::string extra;                       // ExtraBytes

    // A fault of the given kind on the next request, with no size or delay.
    static Fault Of(FaultKind k) {
        Fault f;
        f.kind = k;
        return f;
    }
    static Fault Nak() { return Of(FaultKind::Nak); }
    static Fault PaddedNak() { return Of(FaultKind::PaddedNak); }
    static Fault Silence() { return Of(FaultKind::Silence); }
    static Fault WrongChecksum() { return Of(FaultKind::WrongChecksum); }
    static Fault LowerCaseChecksum() { return Of(FaultKind::LowerCaseChecksum); }
    static Fault Truncate(std::size_t keep);
    static Fault NoStx() { return Of(FaultKind::NoStx); }
    static Fault NoCr() { return Of(FaultKind::NoCr); }
    static Fault WrongEcho() { return Of(FaultKind::WrongEcho); }
    static Fault Extra(std::string bytes);
    static Fault Bursts(std::size_t piece, std::chrono::milliseconds pause);
    static Fault DelayReply(std::chrono::milliseconds delay);
    static Fault DelayBytes(std::chrono::milliseconds delay);

    Fault &Only(int cmd) { command = cmd; return *this; }
    Fault &Times(unsigned n) { times = n; return *this; }
    Fault &Persistent() { times = 0; return *this; }
};

// One complete frame (STX ... CR) received on the line, and what was done.
struct RequestRecord {
    std::chrono::steady_clock::time_point arrival;   // when its CR was read
    std::chrono::steady_clock::time_point replied;   // when the reply was fully out (or dropped)
    std::string raw;        // the frame as received
    int command = -1;       // 12, 32, 33, 40, 41 when those characters were readable, else -1
    bool valid = false;     // the request passed every check
    std::string problem;    // why it was refused (empty when valid)
    std::string reply;      // the bytes sent back, faults included (empty: silence)
};

struct Options {
    LineSpeed line{};
    // Refuse set-up, fetch and writes until a CPU start has been received.
    bool requireCpuStart = false;
    // When not empty, a symbolic link to the slave is made here on Start and
    // removed on Stop. An existing symbolic link there is replaced; any other
    // file is an error.
    std::string link;
    // Called on the simulator's thread after each request has been answered.
    std::function<void(const RequestRecord &)> observer;
};

class Simulator {
public:
    explicit Simulator(Options options = {});
    ~Simulator();  // stops
    Simulator(const Simulator &) = delete;
    Simulator &operator=(const Simulator &) = delete;

    // Opens the pty and starts answering. Throws std::system_error when the
    // pty or the link cannot be made. Does nothing when already running.
    void Start();
    // Stops the thread, closes the pty and removes the link. Memory, faults
    // and the request log stay. Start may be called again (new pty).
    void Stop();
    bool Running() const;

    // Path of the slave side (e.g. /dev/pts/7), empty before Start.
    std::string SlavePath() const;
    // The link made for Options::link, empty when none.
    std::string LinkPath() const;

    void SetByte(std::uint16_t address, std::uint8_t value);
    std::uint8_t Byte(std::uint16_t address) const;
    // A word is the byte at address (high) and address + 1 (low); the address
    // after 0xFFFF is 0x0000.
    void SetWord(std::uint16_t address, std::uint16_t value);
    std::uint16_t Word(std::uint16_t address) const;

    void InjectFault(const Fault &fault);
    void ClearFaults();
    // Faults still active (those with a count left, and persistent ones).
    std::size_t ActiveFaults() const;

    bool CpuStarted() const;
    // Like a power cycle: forgets the CPU start and the set-up addresses.
    void ResetCpu();

    // The log of requests, oldest first. A request is entered once its reply
    // has been sent completely, so wait with WaitForRequests before looking.
    std::vector<RequestRecord> Requests() const;
    void ClearRequests();
    // Waits until the log holds at least n requests; false on time-out.
    bool WaitForRequests(std::size_t n, std::chrono::milliseconds timeout) const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Initial memory, one "ADDRESS VALUE" per line, both hexadecimal with an
// optional 0x prefix. A VALUE of one or two digits sets the byte at ADDRESS;
// three or four digits set a word (high byte at ADDRESS, low at ADDRESS + 1).
// '#' starts a comment; blank lines are skipped. Either every line is applied
// or, on the first bad line, nothing is and error says "line N: ...".
bool LoadMemory(std::istream &in, Simulator &sim, std::string *error = nullptr);
bool LoadMemoryFile(const std::string &path, Simulator &sim, std::string *error = nullptr);

// A path "/tmp/dz" and four random characters that names nothing yet: 11
// characters, short enough for a driver's port name, for Options::link.
// Throws std::runtime_error when no such name is free.
std::string FreeShortLinkPath();

// Writes bytes for a human: printable characters as they are, STX, CR, NAK
// and the like as <STX>, <CR>, <NAK>, bytes above 0x7E as <xHH>.
std::string Printable(std::string_view bytes);

}  // namespace dazaraz::sim

#endif
