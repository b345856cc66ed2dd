// The code page 437 table against the C library's own conversion.
#include <iconv.h>

#include <gtest/gtest.h>

#include "cp437.h"

namespace {

TEST(Cp437, EveryByteConvertsAsTheCLibraryDoes) {
    iconv_t cd = iconv_open("UTF-8", "CP437");
    if (cd == reinterpret_cast<iconv_t>(-1)) GTEST_SKIP() << "no CP437 in iconv";
    for (int byte = 0x20; byte <= 0xFF; ++byte) {
        if (byte == 0x7F) continue;
        char in[1] = {static_cast<char>(byte)};
        char out[8] = {};
        char *inp = in, *outp = out;
        size_t inLeft = 1, outLeft = sizeof out;
        ASSERT_NE(iconv(cd, &inp, &inLeft, &outp, &outLeft), static_cast<size_t>(-1)) << byte;
        EXPECT_EQ(dazaraz::cli::Cp437ToUtf8(std::string(1, static_cast<char>(byte))),
                  std::string(out, sizeof out - outLeft))
            << "byte 0x" << std::hex << byte;
    }
    iconv_close(cd);
}

TEST(Cp437, ControlCharactersAndTextPassThrough) {
    EXPECT_EQ(dazaraz::cli::Cp437ToUtf8("\b\nA\xC9\xCD\xBB"), "\b\nA╔═╗");
}

}  // namespace
