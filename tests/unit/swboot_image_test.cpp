// The image tool's library: building OPR images and STK containers, and
// the verifier that must agree with the loader on what it accepts.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <zlib.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "boot_code.h"
#include "common/bytes.h"
#include "host_files.h"
#include "image/image_crc.h"
#include "image/image_format.h"
#include "image_builder.h"
#include "image_extract.h"
#include "image_reader.h"
#include "image_show.h"
#include "image_verify.h"
#include "stk_builder.h"
#include "string_sink.h"
#include "support/boot_spine_images.h"
#include "support/test_board.h"
#include "support/test_images.h"

namespace swboot::tool {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

using testing_support::fixCrc;

constexpr uint32_t LOAD_ADDRESS = 0x00010000;
constexpr uint32_t OTHER_TARGET = 0x00508555;

// Code that compresses somewhat, like real code: repeated words with noise.
std::vector<uint8_t> sampleCode(size_t length, uint32_t seed) {
    std::vector<uint8_t> code = testing_support::patternBytes(length, seed);
    for (size_t i = 0; i < length; ++i) {
        code[i] = (i % 16 < 10) ? static_cast<uint8_t>("lwz r3,0(r4)\n"[i % 13]) : code[i];
    }
    return code;
}

ImageBuildInput sampleInput(size_t codeLength = 100000, uint32_t target = DEVICE_TARGET_ID) {
    ImageBuildInput input;
    input.code = sampleCode(codeLength, target);
    input.loadAddress = LOAD_ADDRESS;
    input.target = target;
    input.timestamp = "Tue Oct 10 10:10:10 2006";
    input.name = "switch-code.bin";
    return input;
}

std::vector<uint8_t> built(const ImageBuildInput& input) {
    Result<std::vector<uint8_t>> image = oprImageBuild(input);
    EXPECT_TRUE(image.ok()) << image.error();
    return image.ok() ? image.value() : std::vector<uint8_t>{};
}

uint16_t crcOf(const uint8_t* data, size_t length) {
    ImageCrc crc;
    return crc.compute(data, length);
}

std::string verifyError(const std::vector<uint8_t>& file, uint32_t target = DEVICE_TARGET_ID) {
    Result<VerifyReport> report = imageVerify(file, target);
    return report.ok() ? std::string("accepted") : report.error();
}

// The file with a 32-bit field set and the CRC repaired, so that the check
// under test is the one that fails.
std::vector<uint8_t> withField(std::vector<uint8_t> file, size_t offset, uint32_t value) {
    putBe32(file.data() + offset, value);
    fixCrc(file);
    return file;
}

// What zlib makes of the bytes in one call, as a yardstick for the
// loader-style stepwise inflation.
uint64_t inflatedLength(std::span<const uint8_t> stream) {
    z_stream z{};
    EXPECT_EQ(inflateInit(&z), Z_OK);
    std::vector<uint8_t> out(IMAGE_SIZE_MAX);
    z.next_in = const_cast<Bytef*>(stream.data());
    z.avail_in = static_cast<uInt>(stream.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    inflate(&z, Z_NO_FLUSH);
    inflateEnd(&z);
    return z.total_out;
}

// The verifier's report on a file it must accept; an empty report, and a
// failure, when it refuses.
VerifyReport accepted(const std::vector<uint8_t>& file, uint32_t target = DEVICE_TARGET_ID) {
    Result<VerifyReport> report = imageVerify(file, target);
    EXPECT_TRUE(report.ok()) << report.error();
    return report.ok() ? report.value() : VerifyReport{};
}

TEST(SwbootImageBuildTest, ImageRoundTrips) {
    ImageBuildInput input = sampleInput();
    input.bootCode = sampleCode(3000, 7);
    input.bootCodeVersion = 5;
    input.vpd = {'R', 2, 3, 4};
    std::vector<uint8_t> image = built(input);
    ASSERT_GT(image.size(), IMAGE_HEADER_SIZE);

    const ImageHeader header = imageHeaderAt(image, 0);
    EXPECT_EQ(getBe16(image.data() + 2), 0) << "bytes 2-3 must stay clear of the container signature";
    EXPECT_EQ(header.targetDevice(), DEVICE_TARGET_ID);
    EXPECT_EQ(header.size(), image.size());
    EXPECT_EQ(header.componentCount(), 2u);

    const uint32_t codeSize = header.componentSize(0);
    EXPECT_EQ(header.componentOffset(0), 0u);
    EXPECT_EQ(header.componentLoadAddress(0), LOAD_ADDRESS);
    EXPECT_EQ(header.componentFlashFlag(0), 0u);
    EXPECT_EQ(header.componentCrc(0), crcOf(image.data() + IMAGE_HEADER_SIZE, codeSize));
    std::vector<uint8_t> inflated;
    InflateOutcome outcome =
        componentInflate(std::span(image).subspan(IMAGE_HEADER_SIZE, codeSize), IMAGE_SIZE_MAX, &inflated);
    ASSERT_TRUE(outcome.ok) << outcome.problem;
    EXPECT_TRUE(outcome.streamEnded);
    EXPECT_EQ(inflated, input.code);

    EXPECT_EQ(header.componentVersion(1), 5u);
    EXPECT_EQ(header.componentOffset(1), codeSize);
    EXPECT_EQ(header.componentFlashFlag(1), 1u);
    const uint8_t* boot = image.data() + IMAGE_HEADER_SIZE + codeSize;
    EXPECT_EQ(std::vector<uint8_t>(boot, boot + 3000), *input.bootCode);
    EXPECT_EQ(header.componentCrc(1), crcOf(boot, 3000));
    EXPECT_EQ(IMAGE_HEADER_SIZE + codeSize + 3000, image.size());

    EXPECT_EQ(header.vpdRel(), 'R');
    EXPECT_EQ(header.vpdVer(), 2);
    EXPECT_EQ(header.vpdMaintLvl(), 3);
    EXPECT_EQ(header.vpdBuildNum(), 4);
    char timestamp[IMAGE_TIMESTAMP_SIZE + 1];
    char file[IMAGE_FILE_SIZE + 1];
    header.timestamp(timestamp);
    header.fileText(file);
    EXPECT_STREQ(timestamp, "Tue Oct 10 10:10:10 2006");
    EXPECT_STREQ(file, "switch-code.bin");

    const VerifyReport report = accepted(image);
    EXPECT_EQ(report.inflatedSize, input.code.size());
    EXPECT_EQ(report.bootCodeSize, 3000u);
}

TEST(SwbootImageBuildTest, WithoutBootCodeTheSecondDescriptorIsClear) {
    std::vector<uint8_t> image = built(sampleInput());
    const ImageHeader header = imageHeaderAt(image, 0);
    EXPECT_EQ(header.componentCount(), 1u);
    const uint8_t* second = image.data() + IMAGE_COMPONENT_TABLE_OFFSET + COMPONENT_DESCRIPTOR_SIZE;
    EXPECT_TRUE(std::all_of(second, second + COMPONENT_DESCRIPTOR_SIZE, [](uint8_t b) { return b == 0; }));
    EXPECT_EQ(header.size(), IMAGE_HEADER_SIZE + header.componentSize(0));
}

TEST(SwbootImageBuildTest, RefusesWhatTheLoaderWouldNotStart) {
    ImageBuildInput input = sampleInput(0x100);
    for (uint32_t address : {0x02000000u, 0x02FFFFFFu, 0x10000000u, 0xFFFFFFF0u}) {
        input.loadAddress = address;
        EXPECT_FALSE(oprImageBuild(input).ok()) << std::hex << address;
    }
    // The code must end at or before the staging area.
    input.loadAddress = STAGING_AREA_BASE - 0x100;
    EXPECT_TRUE(oprImageBuild(input).ok());
    input.loadAddress = STAGING_AREA_BASE - 0xFF;
    EXPECT_FALSE(oprImageBuild(input).ok());
    input.loadAddress = RAM_TOP - 0x100;
    EXPECT_TRUE(oprImageBuild(input).ok());

    input = sampleInput();
    input.code.clear();
    EXPECT_FALSE(oprImageBuild(input).ok());
}

TEST(SwbootImageBuildTest, OnlyAWholeRegionEndingInABranchIsBootCodeTheBoardStartsFrom) {
    const std::vector<uint8_t> whole = bootCodeBuild(9);
    struct Case {
        size_t size;
        uint32_t lastWord;
        std::string problem;
    };
    const std::string shortOf = " bytes, not the 1048576-byte boot code region: once written, the reset vector at its "
                               "last word is left erased";
    const std::vector<Case> cases = {
        {whole.size(), 0x4BFFF004, ""},
        {whole.size(), 0x48000001, ""},  // bl
        {whole.size(), 0x40820008, "its last word (the reset vector) is 0x40820008, not an unconditional branch"},
        {whole.size() - 4, 0x4BFFF004, "1048572" + shortOf},
        {whole.size() + 4, 0x4BFFF004, "1048580" + shortOf},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> code(whole.begin(), whole.end());
        code.resize(c.size, 0xFF);
        putBe32(code.data() + c.size - 4, c.lastWord);
        EXPECT_EQ(bootCodeStartProblem(code), c.problem) << c.size << " " << std::hex << c.lastWord;
    }
    std::vector<uint8_t> torn(whole.begin(), whole.end());
    std::fill(torn.begin(), torn.begin() + 0x40000, uint8_t{0xFF});  // a block erased, not yet programmed
    EXPECT_EQ(bootCodeCheckProblem(whole), "");
    EXPECT_THAT(bootCodeCheckProblem(torn), HasSubstr("not one whole boot code"));
}

TEST(SwbootImageBuildTest, TextsMustFitTheirFieldsAndTheLargestImageIsSixteenMebibytes) {
    ImageBuildInput input = sampleInput(1000);
    input.timestamp = std::string(31, 't');
    input.name = std::string(399, 'n');
    EXPECT_TRUE(oprImageBuild(input).ok());
    input.timestamp = std::string(32, 't');
    Result<std::vector<uint8_t>> image = oprImageBuild(input);
    ASSERT_FALSE(image.ok());
    EXPECT_THAT(image.error(), HasSubstr("timestamp"));
    input.timestamp = "now";
    input.name = std::string(400, 'n');
    EXPECT_FALSE(oprImageBuild(input).ok());

    input = sampleInput(1000);
    const size_t small = built(input).size();
    input.bootCode = std::vector<uint8_t>(IMAGE_SIZE_MAX - small, 0x5A);
    std::vector<uint8_t> largest = built(input);
    EXPECT_EQ(largest.size(), IMAGE_SIZE_MAX);
    EXPECT_EQ(verifyError(largest), "accepted");
    input.bootCode->push_back(0);
    EXPECT_FALSE(oprImageBuild(input).ok());
}

TEST(SwbootImageBuildTest, ArgumentTexts) {
    Result<VpdNumbers> vpd = vpdParse("A.1.2.3");
    ASSERT_TRUE(vpd.ok());
    EXPECT_EQ(vpd->rel, 'A');
    EXPECT_EQ(vpd->buildNum, 3);
    vpd = vpdParse("12.255.0");
    ASSERT_TRUE(vpd.ok()) << vpd.error();
    EXPECT_EQ(vpd->rel, 12);
    EXPECT_EQ(vpd->ver, 255);
    EXPECT_EQ(vpd->buildNum, 0);
    for (const char* bad : {"1.256.0.0", "AB.1.2.3", "1.2", "1.2.3.4.5", "1..2.3", "-1.0.0.0", "1.x.0.0"}) {
        EXPECT_FALSE(vpdParse(bad).ok()) << bad;
    }

    EXPECT_EQ(hexParse("0x00508541").value(), 0x00508541u);
    EXPECT_EQ(hexParse("FFFFFFFF").value(), 0xFFFFFFFFu);
    for (const char* bad : {"", "0x", "123456789", "0x12g4", "-1"}) {
        EXPECT_FALSE(hexParse(bad).ok()) << bad;
    }

    EXPECT_EQ(timestampDefault("1160475010", 0).value(), "Tue Oct 10 10:10:10 2006");
    EXPECT_EQ(timestampDefault(nullptr, 1706933106).value(), "Sat Feb  3 04:05:06 2024");
    EXPECT_FALSE(timestampDefault("yesterday", 0).ok());
}

class SwbootImageVerifyTest : public ::testing::Test {
protected:
    std::vector<uint8_t> image = built(sampleInput());
};

TEST_F(SwbootImageVerifyTest, AnyChangedByteUnderTheCrcIsCaught) {
    ASSERT_EQ(verifyError(image), "accepted");
    for (size_t position : {size_t{0}, size_t{1}, size_t{2}, size_t{IMAGE_FILE_OFFSET}, size_t{IMAGE_HEADER_SIZE + 10},
                            image.size() - 1}) {
        std::vector<uint8_t> changed = image;
        changed[position] ^= 0x01;
        EXPECT_THAT(verifyError(changed), HasSubstr("CRC mismatch")) << position;
    }
}

TEST_F(SwbootImageVerifyTest, RefusesWhatTheLoaderRefusesAndTakesWhatItStarts) {
    const size_t code = IMAGE_COMPONENT_TABLE_OFFSET;
    const size_t boot = code + COMPONENT_DESCRIPTOR_SIZE;
    const uint32_t codeSize = getBe32(image.data() + code + COMPONENT_SIZE_OFFSET);
    EXPECT_THAT(verifyError(image, OTHER_TARGET), HasSubstr("Target Device 0x00508541"));
    EXPECT_THAT(verifyError({image.begin(), image.end() - 1}), HasSubstr("shorter than"));
    EXPECT_THAT(verifyError(std::vector<uint8_t>(15, 0)), HasSubstr("too short"));
    EXPECT_THAT(verifyError(withField(std::vector<uint8_t>(IMAGE_HEADER_SIZE - 1, 0), IMAGE_SIZE_OFFSET,
                                      IMAGE_HEADER_SIZE - 1)),
                HasSubstr("Size"));
    EXPECT_THAT(verifyError(withField(image, IMAGE_SIZE_OFFSET, IMAGE_SIZE_MAX + 1)), HasSubstr("outside"));
    EXPECT_THAT(verifyError(withField(image, IMAGE_COMPONENT_COUNT_OFFSET, IMAGE_COMPONENTS_MAX + 1)),
                HasSubstr("Number of Components"));
    EXPECT_THAT(verifyError(withField(image, code + COMPONENT_SIZE_OFFSET, 0)), HasSubstr("Size is 0"));
    EXPECT_THAT(verifyError(withField(image, code + COMPONENT_SIZE_OFFSET, codeSize + 1)),
                HasSubstr("beyond the end of the file"));
    EXPECT_THAT(verifyError(withField(image, code + COMPONENT_DATA_OFFSET, IMAGE_SIZE_MAX)), HasSubstr("first 16 MiB"));
    EXPECT_THAT(verifyError(withField(withField(image, boot + COMPONENT_SIZE_OFFSET, 1), boot + COMPONENT_DATA_OFFSET,
                                      static_cast<uint32_t>(image.size()))),
                HasSubstr("boot code"));
    const size_t load = code + COMPONENT_LOAD_ADDRESS_OFFSET;
    EXPECT_THAT(verifyError(withField(image, load, STAGING_AREA_BASE + 0x1000)), HasSubstr("load address 0x02001000"));
    // 100000 bytes of code fit below the staging area from 100000 below it on.
    EXPECT_THAT(verifyError(withField(image, load, STAGING_AREA_BASE - 99999)), HasSubstr("more than 99999 bytes"));
    EXPECT_EQ(verifyError(withField(image, load, STAGING_AREA_BASE - 100000)), "accepted");
    // Size 1220: the CRC covers the header only; the code after it still starts.
    EXPECT_EQ(verifyError(withField(image, IMAGE_SIZE_OFFSET, IMAGE_HEADER_SIZE)), "accepted");

    std::vector<uint8_t> corrupt = image;
    for (size_t i = 0; i < 64; ++i) {
        corrupt[IMAGE_HEADER_SIZE + 200 + i] ^= 0xA5;
    }
    fixCrc(corrupt);
    EXPECT_THAT(verifyError(corrupt), HasSubstr("does not inflate"));
}

TEST_F(SwbootImageVerifyTest, ComponentEndingBeforeItsStreamEndStillStarts) {
    // The loader stops when it has consumed the component's Size, stream end
    // or not, and never looks at the bytes after it.
    const std::vector<uint8_t> changed = withField(image, IMAGE_COMPONENT_TABLE_OFFSET + COMPONENT_SIZE_OFFSET, 3000);
    const VerifyReport report = accepted(changed);
    EXPECT_FALSE(report.streamEnded);
    EXPECT_EQ(report.inflatedSize, inflatedLength(std::span(changed).subspan(IMAGE_HEADER_SIZE, 3000)));
}

TEST_F(SwbootImageVerifyTest, HalfASignatureIsStillAnImage) {
    std::vector<uint8_t> changed = image;
    putBe16(changed.data() + 2, STK_SIGNATURE_16);
    fixCrc(changed);
    EXPECT_FALSE(accepted(changed).container);
}

TEST(SwbootImageStkTest, EachTargetFindsItsImage) {
    std::vector<uint8_t> first = built(sampleInput(50001));
    std::vector<uint8_t> second = built(sampleInput(70000, OTHER_TARGET));
    Result<StkBuild> build = stkContainerBuild({{"first", first, DEVICE_TARGET_ID}, {"second", second, {}}});
    ASSERT_TRUE(build.ok()) << build.error();
    const std::vector<uint8_t>& c = build->container;
    EXPECT_TRUE(build->warnings.empty());

    EXPECT_EQ(getBe16(c.data()), crcOf(c.data() + 2, c.size() - 2));
    EXPECT_EQ(getBe32(c.data() + STK_SIZE_OFFSET), c.size());
    StkDirectory directory = stkDirectoryRead(c);
    EXPECT_EQ(directory.entryCount, 2u);
    EXPECT_EQ(directory.headerLength, STK_ENTRY_TABLE_OFFSET + 2 * STK_ENTRY_SIZE);
    ASSERT_EQ(directory.entries.size(), 2u);
    EXPECT_EQ(directory.entries[1].target, OTHER_TARGET);
    for (const StkEntry& entry : directory.entries) {
        EXPECT_EQ(entry.offset % STK_IMAGE_ALIGNMENT, 0u);
    }
    EXPECT_TRUE(std::equal(second.begin(), second.end(), c.begin() + directory.entries[1].offset));

    const VerifyReport report = accepted(c, OTHER_TARGET);
    EXPECT_TRUE(report.container);
    EXPECT_EQ(report.entryIndex, 1u);
    EXPECT_EQ(report.inflatedSize, 70000u);
    EXPECT_THAT(verifyError(c, 0x00508599), HasSubstr("no matching image"));
    // Entries outside the header length are not scanned.
    EXPECT_THAT(
        verifyError(withField(c, STK_HEADER_LENGTH_OFFSET, STK_ENTRY_TABLE_OFFSET + STK_ENTRY_SIZE), OTHER_TARGET),
        HasSubstr("no matching image"));
    EXPECT_EQ(verifyError(withField(c, STK_ENTRY_COUNT_OFFSET, 0)), "empty container");
}

TEST(SwbootImageStkTest, OffsetsAreRebasedByTheEntryOffset) {
    std::vector<uint8_t> image = built(sampleInput(20000));
    const uint32_t base = 4096;
    std::vector<uint8_t> c = testing_support::boot::stkFront({{base, DEVICE_TARGET_ID}});
    testing_support::boot::placeAt(c, base, image);
    testing_support::boot::stkFinish(c);

    Result<ImageSelection> selection = imageSelect(c, DEVICE_TARGET_ID);
    ASSERT_TRUE(selection.ok()) << selection.error();
    EXPECT_EQ(selection->header.componentOffset(0), base);
    EXPECT_EQ(verifyError(c), "accepted");

    StringSink text;
    ASSERT_TRUE(imageShow("c.stk", c, text).ok());
    EXPECT_THAT(text.text(), HasSubstr("Entry 1: offset 0x1000 (4096), target 0x00508541\n"));
    EXPECT_THAT(text.text(), HasSubstr("Operational Code Offset........................0x1000 (4096)\n"));

    // Only the inner image's own CRC is outside the container's check.
    c[base] ^= 0xFF;
    fixCrc(c);
    EXPECT_EQ(verifyError(c), "accepted");
}

TEST(SwbootImageStkTest, RefusedInputsAndTheFirstOfTwoMatchingEntriesIsChosen) {
    std::vector<uint8_t> image = built(sampleInput(20000));
    Result<StkBuild> build = stkContainerBuild({{"a", image, OTHER_TARGET}});
    ASSERT_FALSE(build.ok());
    EXPECT_THAT(build.error(), HasSubstr("differs"));

    std::vector<uint8_t> broken = image;
    broken[IMAGE_HEADER_SIZE + 5] ^= 1;
    EXPECT_FALSE(stkContainerBuild({{"broken", broken, {}}}).ok());
    EXPECT_FALSE(stkContainerBuild({{"short", std::vector<uint8_t>(100, 0), {}}}).ok());

    Result<StkBuild> two = stkContainerBuild({{"first", built(sampleInput(40000)), {}}, {"second", image, {}}});
    ASSERT_TRUE(two.ok()) << two.error();
    EXPECT_EQ(two->warnings.size(), 1u);
    const VerifyReport report = accepted(two->container);
    EXPECT_EQ(report.entryIndex, 0u);
    EXPECT_EQ(report.inflatedSize, 40000u);
    EXPECT_FALSE(stkContainerBuild({{"nested", two->container, {}}}).ok());

    std::vector<StkInput> nine(STK_ENTRIES_MAX + 1, StkInput{"a", image, {}});
    EXPECT_FALSE(stkContainerBuild(nine).ok());
    nine.pop_back();
    EXPECT_TRUE(stkContainerBuild(nine).ok());

    ImageBuildInput big = sampleInput(1000);
    big.bootCode = std::vector<uint8_t>(IMAGE_SIZE_MAX / 2, 0);
    std::vector<uint8_t> half = built(big);
    EXPECT_FALSE(stkContainerBuild({{"x", half, {}}, {"y", half, {}}}).ok());
}

TEST(SwbootImageExtractTest, GivesBackTheBootCodeAndCodeEachImageWasBuiltFrom) {
    ImageBuildInput first = sampleInput(60000);
    first.bootCode = sampleCode(5000, 3);
    ImageBuildInput second = sampleInput(70000, OTHER_TARGET);
    second.bootCode = sampleCode(4000, 9);
    const std::vector<uint8_t> image = built(first);
    Result<StkBuild> stk = stkContainerBuild({{"first", image, DEVICE_TARGET_ID}, {"second", built(second), {}}});
    ASSERT_TRUE(stk.ok()) << stk.error();
    struct Case {
        const std::vector<uint8_t>& file;
        uint32_t target;
        const ImageBuildInput& from;
    } cases[] = {{image, DEVICE_TARGET_ID, first}, {stk->container, DEVICE_TARGET_ID, first},
                 {stk->container, OTHER_TARGET, second}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.target);
        Result<ExtractedPart> boot = bootCodeExtract(c.file, c.file.size(), c.target);
        ASSERT_TRUE(boot.ok()) << boot.error();
        EXPECT_EQ(boot->bytes, *c.from.bootCode);
        Result<ExtractedPart> code = codeExtract(c.file, c.file.size(), c.target, false);
        ASSERT_TRUE(code.ok()) << code.error();
        EXPECT_TRUE(code->inflated);
        EXPECT_EQ(code->bytes, c.from.code);
        EXPECT_EQ(code->loadAddress, LOAD_ADDRESS);
        Result<ExtractedPart> stored = codeExtract(c.file, c.file.size(), c.target, true);
        ASSERT_TRUE(stored.ok()) << stored.error();
        EXPECT_FALSE(stored->inflated);
        EXPECT_EQ(stored->bytes.size(), stored->storedSize);
        EXPECT_EQ(inflatedLength(stored->bytes), c.from.code.size());
    }
}

TEST(SwbootImageExtractTest, RefusesAFileTheLoaderRefusesAndAnImageWithoutBootCode) {
    ImageBuildInput input = sampleInput();
    input.bootCode = sampleCode(3000, 7);
    std::vector<uint8_t> damaged = built(input);
    damaged.back() ^= 0x01;
    const std::vector<uint8_t> bare = built(sampleInput());
    EXPECT_THAT(bootCodeExtract(damaged, damaged.size(), DEVICE_TARGET_ID).error(), HasSubstr("CRC mismatch"));
    EXPECT_THAT(codeExtract(damaged, damaged.size(), DEVICE_TARGET_ID, true).error(), HasSubstr("CRC mismatch"));
    EXPECT_THAT(bootCodeExtract(bare, bare.size(), DEVICE_TARGET_ID).error(), HasSubstr("carries no boot code"));
    EXPECT_TRUE(codeExtract(bare, bare.size(), DEVICE_TARGET_ID, false).ok());
}

TEST(SwbootImageExtractTest, RefusesToWriteOverTheImageOrOnePartOverTheOther) {
    const testing_support::TempDir temp;
    const std::filesystem::path& dir = temp.path();
    const std::string image = (dir / "image.bin").string();
    fileReplace(image, std::vector<uint8_t>{1, 2, 3});
    const std::string viaDot = (dir / "." / "image.bin").string();
    const std::string other = (dir / "boot.bin").string();
    const struct {
        std::string bootCode, code;
        const char* problem;  // nullptr: may be written
    } cases[] = {
        {image, "", "--boot-code "},
        {"", viaDot, "--code "},
        {other, other, "--boot-code and --code both name "},
        {other, (dir / "code.bin").string(), nullptr},
        {other, "", nullptr},
    };
    for (const auto& c : cases) {
        const std::string problem = extractOutputsProblem(image, c.bootCode, c.code);
        if (c.problem == nullptr) {
            EXPECT_EQ(problem, "") << c.bootCode << " " << c.code;
        } else {
            EXPECT_EQ(problem.rfind(c.problem, 0), 0u) << problem;
        }
    }
}

// The field lines are the loader's own (its header display test checks
// them); the listing adds the file's name, kind, length and CRC verdict,
// and decides on the boot code lines itself.
TEST(SwbootImageShowTest, FirstLineNamesTheFileAndJudgesTheCrcAndBootCodeLinesNeedBootCode) {
    ImageBuildInput input = sampleInput(5000);
    std::vector<uint8_t> image = built(input);
    const std::string length = std::to_string(image.size());
    StringSink good;
    ASSERT_TRUE(imageShow("plain.opr", image, good).ok());
    EXPECT_EQ(good.text().rfind("plain.opr: OPR image, " + length + " bytes, CRC good\nCRC....", 0), 0u) << good.text();
    EXPECT_THAT(good.text(), Not(HasSubstr("Boot Code")));
    input.bootCode = std::vector<uint8_t>(300, 1);
    StringSink withBoot;
    ASSERT_TRUE(imageShow("boot.opr", built(input), withBoot).ok());
    EXPECT_THAT(withBoot.text(), HasSubstr("Boot Code Size.................................0x12c (300)\n"));
    image[IMAGE_HEADER_SIZE] ^= 1;
    StringSink bad;
    ASSERT_TRUE(imageShow("bad.opr", image, bad).ok());
    EXPECT_EQ(bad.text().rfind("bad.opr: OPR image, " + length + " bytes, CRC bad (computed 0x", 0), 0u) << bad.text();
    StringSink ignored;
    EXPECT_FALSE(imageShow("tiny", std::vector<uint8_t>(500, 0), ignored).ok());
}

TEST(SwbootImageFilesTest, ReplaceWritesWholeFilesOnly) {
    const testing_support::TempDir temp;
    const std::filesystem::path& dir = temp.path();
    const std::string path = (dir / "out.opr").string();
    ASSERT_TRUE(fileReplace(path, {1, 2, 3}).ok());
    ASSERT_TRUE(fileReplace(path, {4, 5}).ok());
    Result<FileBytes> back = fileRead(path, 100);
    ASSERT_TRUE(back.ok()) << back.error();
    EXPECT_EQ(back->bytes, (std::vector<uint8_t>{4, 5}));
    EXPECT_FALSE(std::filesystem::exists(path + ".tmp"));

    Result<FileBytes> capped = fileRead(path, 1);
    ASSERT_TRUE(capped.ok());
    EXPECT_EQ(capped->bytes.size(), 1u);
    EXPECT_EQ(capped->length, 2u);

    EXPECT_FALSE(fileReplace((dir / "missing" / "out.opr").string(), {1}).ok());
    EXPECT_FALSE(fileRead((dir / "missing.opr").string(), 100).ok());
}

}  // namespace
}  // namespace swboot::tool
