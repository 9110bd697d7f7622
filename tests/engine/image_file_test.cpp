// SPDX-License-Identifier: MIT
// The image download file: header checks, padding to whole KiB, and the
// files the loader must turn away.
#include "engine_fixture.h"

#include <chrono>
#include <filesystem>
#include <string>
#include <system_error>

using namespace etest;

namespace {

const char kBadFile[] = "BadFile Type! Abort Download\n";

class ImageFile : public EngineFixture {
protected:
    // Loads `bytes` as the download file; the buffer is freed here.
    int Load(const Bytes& bytes, ImageLoad* out, Bytes* buffer = nullptr)
    {
        TempFile f(bytes);
        g_engineFile = f.f;
        *out = ImageLoad{};
        const int r = LoadImageFile(out);
        if (r == 0 && out->buffer) {
            if (buffer)
                buffer->assign(out->buffer, out->buffer + out->size);
            free(out->buffer);
            out->buffer = nullptr;
        }
        g_engineFile = nullptr;
        return r;
    }
};

TEST_F(ImageFile, PayloadIsPaddedWithFFToWholeKiB)
{
    struct Case {
        size_t fileLength;
        uint32_t size;
        size_t tail;
    };
    const Case cases[] = {{1039, 1024, 0}, {1040, 2048, 1023}, {3015, 3072, 72}, {16, 1024, 1023}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fileLength);
        EXPECT_EQ(ImagePaddedSize(c.fileLength), c.size);
        const Bytes payload = Pattern(c.fileLength - 15, uint32_t(c.fileLength));
        ImageLoad img;
        Bytes buf;
        ASSERT_EQ(Load(ImageFileBytes(payload), &img, &buf), 0);
        EXPECT_EQ(img.size, c.size);
        ASSERT_EQ(buf.size(), c.size);
        EXPECT_TRUE(std::equal(payload.begin(), payload.end(), buf.begin())) << "payload not at the front";
        EXPECT_EQ(size_t(std::count(buf.begin() + long(payload.size()), buf.end(), uint8_t(0xFF))), c.tail);
        EXPECT_EQ(Bytes(img.serviceWord, img.serviceWord + 4), Bytes(kServiceWord.begin(), kServiceWord.end()));
    }
}

TEST_F(ImageFile, PaddedSizeOfLargeFilesDoesNotWrap)
{
    EXPECT_EQ(ImagePaddedSize(15 + (uint64_t(3) << 30)), uint64_t(3) << 30);
    EXPECT_EQ(ImagePaddedSize(16 + (uint64_t(4) << 30)), (uint64_t(4) << 30) + 1024);
}

TEST_F(ImageFile, MaskKeys)
{
    // Key 0x00 leaves the magic plain; key 0x20 stores it in lower case.
    struct Case {
        uint8_t key;
        const char* stored;
    };
    const Case cases[] = {{0x00, "VELTOWDL"}, {0x20, "veltowdl"}, {0xFF, nullptr}};
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.key));
        Bytes file = ImageFileBytes(Pattern(100), c.key);
        if (c.stored) {
            EXPECT_EQ(std::string(file.begin() + 1, file.begin() + 9), c.stored);
        }
        EXPECT_TRUE(ImageMagicValid(file.data()));
        ImageLoad img;
        EXPECT_EQ(Load(file, &img), 0);
    }
}

TEST_F(ImageFile, AnyOneMagicByteWrongIsRejected)
{
    for (int i = 0; i < 8; ++i) {
        SCOPED_TRACE(i);
        ClearJournal();
        Bytes file = ImageFileBytes(Pattern(100), 0x37);
        file[1 + i] ^= 0x40;
        EXPECT_FALSE(ImageMagicValid(file.data()));
        ImageLoad img;
        EXPECT_EQ(Load(file, &img), 1);
        EXPECT_EQ(img.buffer, nullptr);
        EXPECT_EQ(Journal(), (std::vector<Entry>{Log(kBadFile, LOG_DONE)}));
    }
}

TEST_F(ImageFile, VersionBytesPrintAsSignedValues)
{
    struct Case {
        uint8_t major, minor;
        const char* line;
    };
    const Case cases[] = {
        {0x01, 0x02, "Download File is valid, DL Version:1.2\n"},
        {0xFF, 0xFF, "Download File is valid, DL Version:-1.-1\n"},
        {0x80, 0x7F, "Download File is valid, DL Version:-128.127\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        ClearJournal();
        ImageLoad img;
        EXPECT_EQ(Load(ImageFileBytes(Pattern(10), 0x11, c.major, c.minor), &img), 0);
        EXPECT_EQ(Journal(), (std::vector<Entry>{Log(c.line, LOG_INFO)}));
    }
}

TEST_F(ImageFile, ShortAndEmptyFilesAreRejected)
{
    // Files of 0 to 15 bytes; the longer ones carry as much of a good
    // header as fits, so only the length can be what turns them away.
    const Bytes good = ImageFileBytes({}, 0x00);
    for (size_t len : {size_t(0), size_t(1), size_t(8), size_t(9), size_t(11), size_t(14), size_t(15)}) {
        SCOPED_TRACE(len);
        VirtualLine l;
        g_enginePort = &l;
        g_engineState = 0;
        // An engine that took the file would listen: stop it after a while.
        l.OnSleep([](VirtualLine& v) {
            if (v.Now() >= 3000)
                g_engineState = ENGINE_ABORT;
        });
        ClearJournal();
        TempFile f(Bytes(good.begin(), good.begin() + long(len)));
        UseFile(f.f, true);
        EXPECT_EQ(RunSession(), 1);
        const auto lines = LogLines();
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines.back(), Log(kBadFile, LOG_DONE));
        EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [](const Entry& e) { return e.value == LOG_DONE; }), 1);
        EXPECT_TRUE(ProgressValues().empty());
        EXPECT_TRUE(l.Written().empty());
        EXPECT_EQ(l.Sleeps(), 0);
    }
}

TEST_F(ImageFile, TooLargeImageIsRejectedBeforeAnythingIsSent)
{
    namespace fs = std::filesystem;
    const fs::path path =
        fs::temp_directory_path() /
        ("marbrix-too-large-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) + ".dat");
    FILE* f = fopen(path.string().c_str(), "w+b");
    ASSERT_NE(f, nullptr);
    const Bytes header = ImageFileBytes({});
    ASSERT_EQ(fwrite(header.data(), 1, header.size(), f), header.size());
    fclose(f);
    // A sparse file of 3 GiB: its padded size is above what YMODEM's
    // decimal size field can announce.
    std::error_code error;
    fs::resize_file(path, uintmax_t(3) << 30, error);
    if (error) {
        fs::remove(path, error);
        GTEST_SKIP() << "no sparse file of 3 GiB here";
    }
    f = fopen(path.string().c_str(), "rb");
    ASSERT_NE(f, nullptr);
    UseFile(f, true);
    Feed({0x02, 0xAA, 0x03, 0x02, 0xB0, 0x03});
    StopWhenQuiet();
    EXPECT_EQ(RunSession(), 1);
    fclose(f);
    fs::remove(path, error);
    // Told as too large, with size and limit; never called valid first.
    EXPECT_EQ(Journal(), (std::vector<Entry>{
                             Log("Image too large to send: 3221225472 bytes padded, at most 2147482624. "
                                 "Abort Download\n",
                                 LOG_DONE),
                         }));
    EXPECT_TRUE(Written().empty());
}

// The name alone decides image or served, in the console and the CLI alike.
TEST(ImageFileName, ExtensionDecidesTheMode)
{
    // A backslash separates folders on Windows only; elsewhere it is part of
    // the name.
    const bool backslashSeparates = std::filesystem::path::preferred_separator == '\\';
    const struct {
        const char* path;
        bool image;
    } cases[] = {
        {"app.dat", true},
        {"app.DAT", true},
        {"app.Dat", true},
        {"app.data", true},
        {"app.datx", true},
        {"x.tar.dat", true},
        {"app.da", false},
        {"app.sdl", false},
        {"app.dnl", false},
        {"app.vdl", false},
        {"app.bin", false},
        {"app", false},
        {"app.", false},
        {"dat", false},
        {"app.dat.bin", false},
        {"dir.dat/app", false},
        {"dir.sdl/app.dat", true},
        {".dat", true},
        {"/tmp/x.dat/app", false},
        {"app.dAt", true},
        {"app.dat/", false},
        {"dir.sdl\\app.dat", true},
        {"dir.dat\\app", !backslashSeparates},
        {"C:\\dir.dat\\app.sdl", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsImageFileName(c.path), c.image) << c.path;
}

}  // namespace
