// swboot-image: make, list and verify operational code images and STK
// containers for the switch's boot loader.
#include <CLI/CLI.hpp>

#include <cinttypes>
#include <cstdio>
#include <optional>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "boot_code.h"
#include "host_files.h"
#include "image/image_format.h"
#include "image_extract.h"
#include "image_builder.h"
#include "image_show.h"
#include "image_verify.h"
#include "stk_builder.h"
#include "string_sink.h"

namespace {

using namespace swboot;
using namespace swboot::tool;

constexpr int EXIT_FAILED = 1;
constexpr int EXIT_USAGE = 2;

int failed(const std::string& message) {
    std::fprintf(stderr, "swboot-image: %s\n", message.c_str());
    return EXIT_FAILED;
}

struct BuildArguments {
    std::string code;
    std::string bootCode;
    bool noBootCode = false;
    std::string loadAddress;
    std::string target;
    std::string vpd = "1.0.0.0";
    std::string timestamp;
    std::string name;
    uint32_t bootCodeVersion = 1;
    std::string output;
};

struct StkArguments {
    std::vector<std::string> entries;
    std::string output;
};

struct ExtractArguments {
    std::string file;
    std::string target;
    std::string bootCode;
    std::string code;
    bool stored = false;
};

// Images are at most 16 MiB; what lies further is no part of one.
constexpr uint64_t EXTRACT_READ_MAX = 2 * uint64_t{IMAGE_SIZE_MAX};

struct FileArguments {
    std::string file;
    std::string target;
};

int buildRun(const BuildArguments& args, CLI::App& command) {
    ImageBuildInput input;
    Result<uint32_t> load = hexParse(args.loadAddress);
    if (!load) {
        return failed("--load-address: " + load.error());
    }
    input.loadAddress = *load;
    if (command.count("--target") != 0) {
        Result<uint32_t> target = hexParse(args.target);
        if (!target) {
            return failed("--target: " + target.error());
        }
        input.target = *target;
    }
    Result<VpdNumbers> vpd = vpdParse(args.vpd);
    if (!vpd) {
        return failed("--vpd: " + vpd.error());
    }
    input.vpd = *vpd;
    input.bootCodeVersion = args.bootCodeVersion;
    if (command.count("--timestamp") != 0) {
        input.timestamp = args.timestamp;
    } else {
        Result<std::string> now = timestampDefault(std::getenv("SOURCE_DATE_EPOCH"), std::time(nullptr));
        if (!now) {
            return failed(now.error());
        }
        input.timestamp = *now;
    }
    input.name = command.count("--name") != 0 ? args.name
                                              : std::filesystem::path(args.code).filename().string();

    Result<FileBytes> code = fileRead(args.code, RAM_TOP);
    if (!code) {
        return failed(code.error());
    }
    if (code->length > code->bytes.size()) {
        return failed(args.code + ": " + std::to_string(code->length) + " bytes is more than the board's RAM");
    }
    input.code = std::move(code.value().bytes);
    if (!args.bootCode.empty()) {
        Result<FileBytes> boot = fileRead(args.bootCode, IMAGE_SIZE_MAX);
        if (!boot) {
            return failed(boot.error());
        }
        if (boot->length > boot->bytes.size()) {
            return failed(args.bootCode + ": " + std::to_string(boot->length) +
                          " bytes does not fit in an image");
        }
        input.bootCode = std::move(boot.value().bytes);
        const std::string problem = bootCodeStartProblem(*input.bootCode);
        if (!problem.empty()) {
            std::fprintf(stderr, "swboot-image: warning: %s: %s; a board could not start from it, so Boot Menu "
                                 "option 7 will refuse it\n", args.bootCode.c_str(), problem.c_str());
        }
    } else if (!args.noBootCode) {
        input.bootCode = bootCodeBuild(args.bootCodeVersion);
    }

    Result<std::vector<uint8_t>> image = oprImageBuild(input);
    if (!image) {
        return failed(image.error());
    }
    Status written = fileReplace(args.output, *image);
    if (!written) {
        return failed(written.error());
    }
    Result<VerifyReport> report = imageVerify(*image, input.target);
    std::printf("%s: %zu bytes, %s\n", args.output.c_str(), image->size(), verifySummary(*report).c_str());
    return EXIT_SUCCESS;
}

int stkRun(const StkArguments& args) {
    std::vector<StkInput> inputs;
    for (const std::string& entry : args.entries) {
        StkInput input;
        input.name = entry;
        std::error_code ignored;
        const size_t colon = entry.rfind(':');
        if (!std::filesystem::exists(entry, ignored) && colon != std::string::npos && colon > 0) {
            Result<uint32_t> target = hexParse(std::string_view(entry).substr(colon + 1));
            if (!target) {
                return failed(entry + ": no such image file (an entry is IMAGE or IMAGE:TARGET, TARGET hexadecimal)");
            }
            input.name = entry.substr(0, colon);
            input.target = *target;
        }
        Result<FileBytes> image = fileRead(input.name, IMAGE_SIZE_MAX);
        if (!image) {
            return failed(image.error());
        }
        if (image->length > image->bytes.size()) {
            return failed(input.name + ": " + std::to_string(image->length) + " bytes does not fit in a container");
        }
        input.image = std::move(image.value().bytes);
        inputs.push_back(std::move(input));
    }
    Result<StkBuild> build = stkContainerBuild(inputs);
    if (!build) {
        return failed(build.error());
    }
    for (const std::string& warning : build->warnings) {
        std::fprintf(stderr, "swboot-image: warning: %s\n", warning.c_str());
    }
    Status written = fileReplace(args.output, build->container);
    if (!written) {
        return failed(written.error());
    }
    std::printf("%s: STK container, %zu bytes, %zu entries\n", args.output.c_str(), build->container.size(),
                inputs.size());
    return EXIT_SUCCESS;
}

int showRun(const FileArguments& args) {
    Result<FileBytes> file = fileRead(args.file, IMAGE_SIZE_MAX);
    if (!file) {
        return failed(file.error());
    }
    StringSink text;
    Status shown = imageShow(args.file, file->bytes, text);
    if (!shown) {
        return failed(shown.error());
    }
    std::fputs(text.text().c_str(), stdout);
    return EXIT_SUCCESS;
}

int verifyRun(const FileArguments& args, CLI::App& command) {
    uint32_t target = DEVICE_TARGET_ID;
    if (command.count("--target") != 0) {
        Result<uint32_t> parsed = hexParse(args.target);
        if (!parsed) {
            return failed("--target: " + parsed.error());
        }
        target = *parsed;
    }
    Result<FileBytes> file = fileRead(args.file, IMAGE_SIZE_MAX);
    if (!file) {
        return failed(file.error());
    }
    Result<VerifyReport> report = imageVerify(file->bytes, file->length, target);
    if (!report) {
        return failed(args.file + ": " + report.error());
    }
    std::printf("%s: OK %s\n", args.file.c_str(), verifySummary(*report).c_str());
    return EXIT_SUCCESS;
}

int extractRun(const ExtractArguments& args, CLI::App& command) {
    uint32_t target = DEVICE_TARGET_ID;
    if (command.count("--target") != 0) {
        Result<uint32_t> parsed = hexParse(args.target);
        if (!parsed) {
            return failed("--target: " + parsed.error());
        }
        target = *parsed;
    }
    if (args.bootCode.empty() && args.code.empty()) {
        return failed("extract: say what to take out: --boot-code FILE, --code FILE or both");
    }
    if (std::string problem = extractOutputsProblem(args.file, args.bootCode, args.code); !problem.empty()) {
        return failed("extract: " + problem + "; nothing written");
    }
    Result<FileBytes> file = fileRead(args.file, EXTRACT_READ_MAX);
    if (!file) {
        return failed(file.error());
    }
    // Both parts are taken before either is written: a failure writes nothing.
    std::optional<Result<ExtractedPart>> boot;
    std::optional<Result<ExtractedPart>> code;
    if (!args.bootCode.empty()) {
        boot = bootCodeExtract(file->bytes, file->length, target);
        if (!*boot) {
            return failed(args.file + ": " + boot->error() + "; nothing written");
        }
    }
    if (!args.code.empty()) {
        code = codeExtract(file->bytes, file->length, target, args.stored);
        if (!*code) {
            return failed(args.file + ": " + code->error() + "; nothing written");
        }
    }
    if (boot) {
        Status written = fileReplace(args.bootCode, (*boot)->bytes);
        if (!written) {
            return failed(written.error());
        }
        std::printf("%s: boot code, %zu bytes as stored, written to %s\n", args.file.c_str(), (*boot)->bytes.size(),
                    args.bootCode.c_str());
        const std::string problem = bootCodeStartProblem((*boot)->bytes);
        if (!problem.empty()) {
            std::fprintf(stderr, "swboot-image: warning: the board would not start from this boot code: %s\n",
                         problem.c_str());
        }
    }
    if (code) {
        Status written = fileReplace(args.code, (*code)->bytes);
        if (!written) {
            return failed(written.error());
        }
        if ((*code)->inflated) {
            std::printf("%s: operational code, %zu bytes inflated (%" PRIu32 " bytes as stored), load address "
                        "0x%08" PRIx32 ", written to %s\n",
                        args.file.c_str(), (*code)->bytes.size(), (*code)->storedSize, (*code)->loadAddress,
                        args.code.c_str());
        } else {
            std::printf("%s: operational code, %zu bytes as stored (compressed), load address 0x%08" PRIx32
                        ", written to %s\n",
                        args.file.c_str(), (*code)->bytes.size(), (*code)->loadAddress, args.code.c_str());
        }
    }
    return EXIT_SUCCESS;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"Make, list and verify operational code images (OPR) and STK containers for the switch's "
                 "boot loader.\nAddresses and target ids are hexadecimal, with or without 0x.",
                 "swboot-image"};
    app.require_subcommand(1);

    BuildArguments build;
    CLI::App* buildCommand = app.add_subcommand("build", "Build an OPR image from operational code and boot code");
    buildCommand->add_option("--code", build.code, "Operational code as it is to run (compressed into the image)")
        ->type_name("FILE")
        ->required();
    CLI::Option* bootCodeOption =
        buildCommand
            ->add_option("--boot-code", build.bootCode,
                         "Boot code, stored as it is (default: a generated 1 MiB boot code of the shape the board "
                         "starts from: the reset vector at its last word branches into the region)")
            ->type_name("FILE");
    buildCommand->add_flag("--no-boot-code", build.noBootCode, "Build the image without a boot code component")
        ->excludes(bootCodeOption);
    buildCommand->add_option("--boot-code-version", build.bootCodeVersion, "Boot code Version field")
        ->type_name("N")
        ->capture_default_str();
    buildCommand->add_option("--load-address", build.loadAddress, "Load and entry address of the code (hex)")
        ->type_name("ADDR")
        ->required();
    buildCommand->add_option("--target", build.target, "Target Device id (hex; default 0x00508541)")
        ->type_name("ID");
    buildCommand->add_option("--vpd", build.vpd, "REL.VER.MAINT[.BUILD]; REL may be one letter")
        ->type_name("VPD")
        ->capture_default_str();
    buildCommand->add_option("--timestamp", build.timestamp,
                             "Timestamp text (default: now, or SOURCE_DATE_EPOCH, in UTC)")
        ->type_name("TEXT");
    buildCommand->add_option("--name", build.name, "File name text (default: the code file's base name)");
    buildCommand->add_option("-o,--output", build.output, "Image file to write")->type_name("OUT")->required();

    StkArguments stk;
    CLI::App* stkCommand = app.add_subcommand("stk", "Build an STK container of up to 8 OPR images");
    stkCommand->add_option("-o,--output", stk.output, "Container file to write")->type_name("OUT")->required();
    stkCommand->add_option("images", stk.entries,
                           "IMAGE:TARGET (TARGET hex) or IMAGE (target taken from the image)")
        ->type_name("IMAGE[:TARGET]")
        ->required();

    FileArguments show;
    CLI::App* showCommand = app.add_subcommand("show", "List the header fields of an image or container");
    showCommand->add_option("file", show.file, "OPR image or STK container")->type_name("FILE")->required();

    FileArguments verify;
    CLI::App* verifyCommand =
        app.add_subcommand("verify", "Check that the loader would accept and start an image or container");
    verifyCommand->add_option("file", verify.file, "OPR image or STK container")->type_name("FILE")->required();
    verifyCommand->add_option("--target", verify.target, "Target device id of the unit (hex; default 0x00508541)")
        ->type_name("ID");

    ExtractArguments extract;
    CLI::App* extractCommand = app.add_subcommand(
        "extract", "Write the parts an image carries into files: its boot code (for swboot-sim flash-boot or a "
                   "probe) and its operational code");
    extractCommand->add_option("file", extract.file, "OPR image or STK container")->type_name("IMAGE")->required();
    extractCommand->add_option("--boot-code", extract.bootCode, "Write the boot code, as stored, to FILE")
        ->type_name("FILE");
    extractCommand->add_option("--code", extract.code,
                               "Write the operational code (component 0) to FILE, inflated as the loader places it")
        ->type_name("FILE");
    extractCommand->add_flag("--stored", extract.stored, "With --code: write it as stored (compressed)");
    extractCommand->add_option("--target", extract.target,
                               "Target device id whose image a container gives (hex; default 0x00508541)")
        ->type_name("ID");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        if (error.get_exit_code() == 0) {
            return app.exit(error);  // --help
        }
        std::fprintf(stderr, "swboot-image: %s (see --help)\n", error.what());
        return EXIT_USAGE;
    }

    try {
        if (buildCommand->parsed()) {
            return buildRun(build, *buildCommand);
        }
        if (stkCommand->parsed()) {
            return stkRun(stk);
        }
        if (showCommand->parsed()) {
            return showRun(show);
        }
        if (extractCommand->parsed()) {
            return extractRun(extract, *extractCommand);
        }
        return verifyRun(verify, *verifyCommand);
    } catch (const std::exception& error) {
        return failed(error.what());
    }
}
