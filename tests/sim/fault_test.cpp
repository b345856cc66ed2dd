// Injected faults as they show on the wire, their counting and filtering,
// and the pacing of replies at the line speed.
#include <gtest/gtest.h>

#include "slave_port.h"

namespace {

using namespace simtest;
using dazaraz::sim::Fault;
using dazaraz::sim::Options;
using dazaraz::sim::Printable;

using Ms = std::chrono::duration<double, std::milli>;

// A bench whose word at 0x0150 is 0x1234 and whose set-up names it, so that
// kFetchWord0150 is answered with kFetchReply1234 (14 bytes).
struct FetchBench : Bench {
    explicit FetchBench(Options o = Unpaced()) : Bench(std::move(o)) {
        sim.SetWord(0x0150, 0x1234);
        if (Transact(kSetupWord0150) != kSetupAck) throw std::runtime_error("set-up refused");
    }
};

TEST(Faults, EachChangesTheReplyAsDescribed) {
    const struct {
        const char *what;
        Fault fault;
        std::string reply;
    } cases[] = {
        {"NAK", Fault::Nak(), kNak + "000033" "26\r"},
        {"NAK padded to the fetch reply's length", Fault::PaddedNak(), kNak + "000033" "0000" "E6\r"},
        {"silence", Fault::Silence(), ""},
        {"wrong checksum", Fault::WrongChecksum(), kStx + "000033" "1234" "F1\r"},
        {"checksum in lower case", Fault::LowerCaseChecksum(), kStx + "000033" "1234" "f0\r"},
        {"truncated", Fault::Truncate(5), kStx + "0000"},
        {"no STX", Fault::NoStx(), "?000033" "1234" "F0\r"},
        {"no CR", Fault::NoCr(), kStx + "000033" "1234" "F0?"},
        {"wrong echo, checksum made to fit", Fault::WrongEcho(), kStx + "009999" "1234" "0E\r"},
        {"extra bytes", Fault::Extra("\r\nXY"), kFetchReply1234 + "\r\nXY"},
    };
    for (const auto &c : cases) {
        FetchBench b;
        b.sim.InjectFault(Fault(c.fault).Only(33));
        EXPECT_EQ(Printable(b.Transact(kFetchWord0150)), Printable(c.reply)) << c.what;
        // Used up by that one fetch.
        EXPECT_EQ(b.sim.ActiveFaults(), 0u) << c.what;
        EXPECT_EQ(b.Transact(kFetchWord0150), kFetchReply1234) << c.what;
    }
}

TEST(Faults, SeveralApplyToOneReplyInAFixedOrder) {
    Bench b;
    // Injected in the reverse of the order they take effect in.
    b.sim.InjectFault(Fault::Truncate(12));
    b.sim.InjectFault(Fault::Extra("XYZ"));
    b.sim.InjectFault(Fault::NoStx());
    b.sim.InjectFault(Fault::WrongEcho());
    EXPECT_EQ(Printable(b.Transact(kCpuStart)), Printable("?009999" "44\rXY"));
}

TEST(Faults, CountFilterAndPersistence) {
    FetchBench b;
    b.sim.InjectFault(Fault::Nak().Only(33).Times(2));
    // Requests of other commands neither see the fault nor use it up.
    EXPECT_EQ(b.Transact(kSetupWord0150), kSetupAck);
    EXPECT_EQ(b.sim.ActiveFaults(), 1u);
    EXPECT_EQ(b.Transact(kFetchWord0150)[0], '\x15');
    EXPECT_EQ(b.Transact(kFetchWord0150)[0], '\x15');
    EXPECT_EQ(b.Transact(kFetchWord0150), kFetchReply1234);

    b.sim.InjectFault(Fault::WrongChecksum().Persistent());
    for (int i = 0; i < 3; ++i) EXPECT_EQ(b.Transact(kCpuStart), kStx + "000012" "24\r") << i;
    EXPECT_EQ(b.sim.ActiveFaults(), 1u);
    b.sim.ClearFaults();
    EXPECT_EQ(b.Transact(kCpuStart), kCpuStartAck);
}

TEST(Faults, RefusalHasNoEffectButASpoiltReplyDoes) {
    Bench b;
    b.sim.InjectFault(Fault::Nak());
    EXPECT_EQ(b.Transact(kCpuStart), kNak + "000012" "23\r");
    EXPECT_FALSE(b.sim.CpuStarted());
    b.sim.InjectFault(Fault::PaddedNak());
    EXPECT_EQ(b.Transact(kWordWrite0150), kNak + "000041" "25\r");
    EXPECT_EQ(b.sim.Word(0x0150), 0);
    EXPECT_TRUE(b.sim.Requests().back().valid);

    b.sim.InjectFault(Fault::Silence());
    EXPECT_EQ(b.Transact(kWordWrite0150), "");
    EXPECT_EQ(b.sim.Word(0x0150), 0x1234);
    EXPECT_EQ(b.sim.Requests().back().reply, "");
    b.sim.InjectFault(Fault::Truncate(3));
    EXPECT_EQ(b.Transact(kCpuStart), kStx + "00");
    EXPECT_TRUE(b.sim.CpuStarted());
}

TEST(Faults, DelayBeforeTheReply) {
    FetchBench b;
    b.sim.InjectFault(Fault::DelayReply(150ms));
    const auto sent = Clock::now();
    b.port->Send(kFetchWord0150);
    EXPECT_TRUE(b.port->Read(1, 100ms).empty());
    const auto chunks = b.port->ReadChunks(kFetchReply1234.size(), sent + 2s);
    ASSERT_FALSE(chunks.empty());
    EXPECT_GE(Ms(chunks.front().at - sent).count(), 150.0);
    std::string all;
    for (const auto &c : chunks) all += c.bytes;
    EXPECT_EQ(all, kFetchReply1234);
}

TEST(Faults, DelayBetweenBytes) {
    Bench b;
    b.sim.InjectFault(Fault::DelayBytes(15ms));
    const auto sent = Clock::now();
    b.port->Send(kCpuStart);
    const auto chunks = b.port->ReadChunks(kCpuStartAck.size(), sent + 2s);
    ASSERT_FALSE(chunks.empty());
    std::string all;
    for (const auto &c : chunks) all += c.bytes;
    EXPECT_EQ(all, kCpuStartAck);
    // Nine gaps of 15 ms between ten bytes, and the bytes come apart.
    EXPECT_GE(Ms(chunks.back().at - sent).count(), 9 * 15.0);
    EXPECT_LT(chunks.front().bytes.size(), kCpuStartAck.size());
}

TEST(Faults, ReplyInBursts) {
    FetchBench b;
    b.sim.InjectFault(Fault::Bursts(4, 100ms));
    b.port->Send(kFetchWord0150);
    const auto chunks = b.port->ReadChunks(kFetchReply1234.size(), Clock::now() + 2s);
    // Group what arrived by the pauses between bursts.
    std::vector<std::string> bursts;
    Clock::time_point last{};
    for (const auto &c : chunks) {
        if (bursts.empty() || c.at - last > 40ms) bursts.emplace_back();
        bursts.back() += c.bytes;
        last = c.at;
    }
    const std::vector<std::string> expected = {kStx + "000", "0331", "234F", "0\r"};
    EXPECT_EQ(bursts, expected);
}

TEST(Faults, SilenceSendsNothing) {
    FetchBench b;
    b.sim.InjectFault(Fault::Silence().Only(33));
    b.port->Send(kFetchWord0150);
    ASSERT_TRUE(b.sim.WaitForRequests(2, 2s));
    EXPECT_TRUE(b.port->Read(1, 200ms).empty());
    EXPECT_TRUE(b.sim.Requests().back().valid);
}

TEST(Pacing, RepliesTakeTheirTimeOnTheLine) {
    const struct {
        const char *line;
        std::string request, reply;
        double atLeastMs;  // bytes x bits per character / baud
    } cases[] = {
        {"9600,7E1", kFetchWord0150, kFetchReply1234, 14 * 10 / 9.6 - 0.1},
        {"1200,8N1", kCpuStart, kCpuStartAck, 10 * 10 / 1.2 - 0.1},
        {"1200,8E2", kCpuStart, kCpuStartAck, 10 * 12 / 1.2 - 0.1},
    };
    for (const auto &c : cases) {
        Options o;
        ASSERT_TRUE(dazaraz::sim::ParseLine(c.line, &o.line)) << c.line;
        FetchBench b(o);
        const auto sent = Clock::now();
        b.port->Send(c.request);
        const auto chunks = b.port->ReadChunks(c.reply.size(), sent + 2s);
        std::string all;
        for (const auto &chunk : chunks) all += chunk.bytes;
        ASSERT_EQ(all, c.reply) << c.line;
        EXPECT_GE(Ms(chunks.back().at - sent).count(), c.atLeastMs) << c.line;
        // Paced byte by byte, not written at the end in one piece (checked
        // where the bytes are far enough apart for a busy machine to see it).
        if (c.atLeastMs > 50) {
            EXPECT_LT(chunks.front().bytes.size(), c.reply.size()) << c.line;
        }
    }
}

}  // namespace
