// zentavol-show: shows a capture for people, each line with the time its first byte came (from
// the time index beside it), or as hexdump rows, or a time window of it byte for byte.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "command_line.h"
#include "local_time.h"
#include "process_setup.h"
#include "render.h"
#include "time_argument.h"
#include "timeline.h"

namespace {

using namespace zentavol;
using namespace zentavol::show;

constexpr const char* kUsage =
    "usage zentavol-show [--hex|--raw] [--utc] [--since TIME] [--until TIME] [FILE]";
constexpr const char* kHelp =
    "Shows a capture of zentavol (FILE, zentavol.dat unless given) as text lines, each with\n"
    "the local time its first byte came, from the time index FILE.times beside it.\n"
    "  --hex           rows of 16 bytes as hexdump -C shows them, each with its time\n"
    "  --raw           the selected bytes exactly as stored\n"
    "  --utc           times in UTC\n"
    "  --since TIME    only what came at or after TIME\n"
    "  --until TIME    only what came before TIME\n"
    "TIME: 2026-12-11T14:35:00 (local), 2026-12-11T13:35:00Z or +01:00, a date alone, or\n"
    "HH:MM[:SS[.fff]] for today.\n"
    "Examples:\n"
    "  zentavol-show --since 14:00 --until 14:05\n"
    "  zentavol-show --raw --since 2026-12-11 /var/log/scale.dat > day.bin";
constexpr const char* kDefaultCapture = "zentavol.dat";
constexpr std::size_t kReadBlock = std::size_t{64} * 1024;

struct ShowOptions {
    bool hex = false;
    bool raw = false;
    bool utc = false;
    std::optional<Micros> since;
    std::optional<Micros> until;
};

void note(const std::string& line) {
    std::fprintf(stderr, "%s\n", line.c_str());
}

std::vector<cli::Option> show_option_table(ShowOptions& options) {
    const auto flag = [](bool& target) {
        return [&target](std::string_view) {
            target = true;
            return std::optional<std::string>();
        };
    };
    const auto time = [](std::optional<Micros>& target, Bound bound) {
        return [&target, bound](std::string_view value) {
            const auto now =
                std::chrono::floor<std::chrono::microseconds>(std::chrono::system_clock::now());
            target = parse_time_argument(value, bound, now);
            return target
                       ? std::optional<std::string>()
                       : std::optional<std::string>("invalid time \"" + std::string(value) + "\"");
        };
    };
    return {
        {0, "hex", false, flag(options.hex)},
        {0, "raw", false, flag(options.raw)},
        {0, "utc", false, flag(options.utc)},
        {0, "since", true, time(options.since, Bound::kSince)},
        {0, "until", true, time(options.until, Bound::kUntil)},
    };
}

std::optional<std::string> read_whole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    std::ostringstream text;
    text << in.rdbuf();
    return std::move(text).str();
}

}  // namespace

int main(int argc, char* argv[]) {
    prepare_console();
    use_binary_mode(stdout);  // LF line ends on every platform
    ShowOptions options;
    const auto option_table = show_option_table(options);
    auto command_line = cli::parse_command_line(option_table, argc, argv);
    if (!command_line.error && command_line.list) {
        command_line.error = "unknown option \"--list\"";
    }
    if (!command_line.error && options.hex && options.raw) {
        command_line.error = "--hex and --raw exclude each other";
    }
    if (!command_line.error && command_line.operands.size() > 1) {
        command_line.error = "one capture file at most";
    }
    if (command_line.error) {
        note("zentavol-show: " + *command_line.error);
        note(kUsage);
        return cli::kStatusUsage;
    }
    if (command_line.help) {
        cli::say(kUsage);
        cli::say(kHelp);
        return cli::kStatusOk;
    }
    if (command_line.version) {
        cli::say(std::string("zentavol-show ") + ZENTAVOL_VERSION);
        return cli::kStatusOk;
    }
    const std::string file =
        command_line.operands.empty() ? kDefaultCapture : command_line.operands[0];

    std::error_code error;
    const bool folder = std::filesystem::is_directory(file, error);
    std::ifstream capture(file, std::ios::binary);
    capture.seekg(0, std::ios::end);
    const auto end = capture.tellg();
    if (folder || !capture || end < 0) {
        note("error open " + file);
        return cli::kStatusFailure;
    }
    const auto size = static_cast<std::uint64_t>(end);

    const std::string index_name = file + ".times";
    const auto index_text = read_whole(index_name);
    if (!index_text) {
        note("no time index: " + index_name);
    }
    const Index index = read_index(index_text.value_or(""), size);
    if (index.unreadable > 0) {
        note("skipped " + std::to_string(index.unreadable) + " unreadable index lines");
    }
    const Timeline timeline(index.entries);

    const bool windowed = options.since || options.until;
    const Micros since = options.since.value_or(Micros::min());
    const Micros until = options.until.value_or(Micros::max());
    const std::vector<ByteRange> ranges =
        windowed ? timeline.bytes_within(size, since, until) : std::vector{ByteRange{0, size}};
    std::vector<IndexEntry> events;
    std::ranges::copy_if(index.entries, std::back_inserter(events), [&](const IndexEntry& entry) {
        return entry.event != Event::kData && entry.time >= since && entry.time < until;
    });

    Renderer renderer(stdout, options.hex ? Renderer::Mode::kHex : Renderer::Mode::kText,
                      options.utc, &timeline, std::move(events));
    std::vector<std::uint8_t> block(kReadBlock);
    for (const auto& range : ranges) {
        capture.clear();
        capture.seekg(static_cast<std::streamoff>(range.begin));
        for (std::uint64_t at = range.begin; at < range.end;) {
            const auto wanted =
                static_cast<std::streamsize>(std::min<std::uint64_t>(block.size(), range.end - at));
            capture.read(reinterpret_cast<char*>(block.data()), wanted);
            const auto got = static_cast<std::size_t>(capture.gcount());
            if (got == 0) {
                break;  // the file was cut shorter meanwhile
            }
            const std::span<const std::uint8_t> bytes(block.data(), got);
            if (options.raw) {
                std::fwrite(bytes.data(), 1, bytes.size(), stdout);
            } else {
                renderer.bytes(at, bytes);
            }
            at += got;
        }
        if (!options.raw) {
            renderer.range_end();
        }
    }
    if (!options.raw) {
        renderer.finish();
    }
    std::fflush(stdout);
    return std::ferror(stdout) != 0 ? cli::kStatusFailure : cli::kStatusOk;
}
