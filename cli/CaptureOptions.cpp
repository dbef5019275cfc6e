#include "CaptureOptions.h"

#include <getopt.h>

#include <algorithm>
#include <utility>

#include "AsciiCase.h"
#include "OutputNames.h"

namespace korbenit {

const char* const CaptureUsage =
    "usage: korbenit-capture [options] [FILE]\n"
    "       korbenit-capture --list\n"
    "\n"
    "Fetches the screen of a Korbenit handheld over its serial port and saves it.\n"
    "  -l, --list            the ports present, one a line, with what is known about each\n"
    "  -p, --port NAME       the device's port (default: the one USB serial or simulated\n"
    "                        port present)\n"
    "  -o, --output FILE     .bmp, .jpg/.jpeg, .png, or .gif/.webp for an animation\n"
    "                        (default Korbenit_yyyymmdd_hhnnss.png);\n"
    "                        \"-\" writes PNG to standard output; FILE may also stand alone\n"
    "                        and hold the time fields %Y %y %m %d %H %M %S %j of the start\n"
    "  -f, --force           replace files that exist (otherwise they are refused)\n"
    "      --quality N       JPEG quality, 1 to 100 (default 90)\n"
    "  -c, --count N         take N pictures: FILE_001, FILE_002, ... or a number pattern\n"
    "                        in FILE such as shot_%03d.png; 0 takes them until stopped\n"
    "  -i, --interval SECS   start a picture every SECS seconds (with --count)\n"
    "      --duration SECS   record an animation continuously for SECS seconds\n"
    "      --fps N           keep at most N frames a second in an animation\n"
    "      --delay SECS      wait SECS seconds before the first picture\n"
    "      --compare REF     compare the picture with REF (PNG, BMP; JPEG with --fuzz):\n"
    "                        prints \"match\" or \"differ: P pixels in X,Y,W,H\"; exit 0\n"
    "                        match, 1 differ, 2 trouble\n"
    "      --mask X,Y,W,H    ignore the pixels of a rectangle (again for more)\n"
    "      --fuzz N          let each 8-bit colour differ by up to N\n"
    "      --max-diff N      let up to N pixels differ\n"
    "      --diff OUT.png    a picture of the differences: the capture greyed, differing\n"
    "                        pixels red, masks outlined in blue\n"
    "      --scale N         write pictures and animations enlarged N times (1 to 8)\n"
    "      --wait-for REF    capture continuously until the screen matches REF (the\n"
    "                        comparison's options apply); exit 0, or 1 after --timeout\n"
    "      --wait-stable S   capture until the screen has not changed for S seconds\n"
    "      --timeout S       how long a wait lasts at most (default 30)\n"
    "      --on-change       in a series (--count N, or --duration S) keep a picture only\n"
    "                        when the screen differs from the last one kept\n"
    "      --serve[=[ADDR:]PORT]\n"
    "                        serve the live screen over HTTP (default 127.0.0.1:8765):\n"
    "                        a page at /, an MJPEG stream at /stream.mjpg, snapshots at\n"
    "                        /snapshot.png and /snapshot.bmp, the state at /frame.json\n"
    "      --token T         the access token every request must carry; an address\n"
    "                        other than loopback gets a random one when none is given\n"
    "  -q, --quiet           no progress bar and no line for a saved picture\n"
    "  -h, --help            this text\n"
    "  -V, --version         the program's version\n"
    "Exit status: 0 done, 1 a capture or an output failed, 2 a usage error; stopped by\n"
    "a signal, it ends by that signal (a shell reports 130 Ctrl+C, 129 hang-up, 143).\n"
    "\n"
    "Report bugs to: developers@korbenit-screenshot.invalid\n";

const char* const DefaultServeAddress = "127.0.0.1:8765";

const char* const CaptureVersion =
    "korbenit-capture " KORBENIT_VERSION
    "\n"
    "Copyright (C) 2026 Korbenit Screenshot developers\n"
    "License: Expat (MIT); this is free software: you are free to change and redistribute it.\n"
    "There is NO WARRANTY, to the extent permitted by law.\n";

namespace {

// A frame takes about 0.3 s at the wire's pace; a recording shorter than that holds none.
constexpr double MinimumDuration = 0.3;

// Plain decimals only: no blanks, signs, hexadecimal or exponents.
bool IsPlainDecimal(const std::string& text, bool fraction) {
  std::size_t dot = fraction ? text.find('.') : std::string::npos;
  std::string whole = text.substr(0, dot),
              part = dot == std::string::npos ? "" : text.substr(dot + 1);
  auto digits = [](const std::string& s) {
    return std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
  };
  return !text.empty() && text != "." && digits(whole) && digits(part);
}

int ParseNumber(const std::string& option, const std::string& text, int low, int high) {
  std::size_t used = 0;
  int value = 0;
  try {
    if (IsPlainDecimal(text, false)) value = std::stoi(text, &used);
  } catch (const std::exception&) {
    used = 0;
  }
  if (used == 0 || used != text.size() || value < low || value > high)
    throw EUsage(option + " takes a number from " + std::to_string(low) + " to " +
                 std::to_string(high) + ", not \"" + text + "\"");
  return value;
}

double ParseSeconds(const std::string& option, const std::string& text) {
  std::size_t used = 0;
  double value = -1;
  try {
    if (IsPlainDecimal(text, true)) value = std::stod(text, &used);
  } catch (const std::exception&) {
    used = 0;
  }
  if (used == 0 || used != text.size() || !(value >= 0) || value > 86400)
    throw EUsage(option + " takes seconds from 0 to 86400, not \"" + text + "\"");
  return value;
}

// X,Y,W,H of plain decimals, a rectangle of at least one pixel within the screen.
TScreenRegion ParseRegion(const std::string& option, const std::string& text) {
  std::vector<int> values;
  std::size_t start = 0;
  for (std::size_t comma; values.size() < 4; start = comma + 1) {
    comma = text.find(',', start);
    std::string part =
        text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    if (!IsPlainDecimal(part, false) || part.size() > 4) break;
    values.push_back(std::stoi(part));
    if (comma == std::string::npos) break;
  }
  bool whole = values.size() == 4 && std::count(text.begin(), text.end(), ',') == 3;
  if (!whole || values[2] == 0 || values[3] == 0 || values[0] + values[2] > ScreenWidth ||
      values[1] + values[3] > ScreenHeight)
    throw EUsage(option + " takes X,Y,WIDTH,HEIGHT within the 240 x 320 screen, not \"" + text +
                 "\"");
  return {values[0], values[1], values[2], values[3]};
}

// getopt_long over a copy of the arguments, with its messages turned into ours.
class TOptionParser {
 public:
  explicit TOptionParser(const std::vector<std::string>& arguments) : FArguments(arguments) {
    FArguments.insert(FArguments.begin(), "korbenit-capture");
    for (auto& argument : FArguments) FPointers.push_back(argument.data());
    FPointers.push_back(nullptr);
  }

  TCaptureOptions Parse() {
    enum {
      Quality = 1000,
      Duration,
      Fps,
      Delay,
      Compare,
      Mask,
      Fuzz,
      MaxDiff,
      Diff,
      Scale,
      WaitFor,
      WaitStable,
      Timeout,
      OnChange,
      Serve,
      Token
    };
    static const option Long[] = {{"list", no_argument, nullptr, 'l'},
                                  {"port", required_argument, nullptr, 'p'},
                                  {"output", required_argument, nullptr, 'o'},
                                  {"force", no_argument, nullptr, 'f'},
                                  {"quality", required_argument, nullptr, Quality},
                                  {"count", required_argument, nullptr, 'c'},
                                  {"interval", required_argument, nullptr, 'i'},
                                  {"duration", required_argument, nullptr, Duration},
                                  {"fps", required_argument, nullptr, Fps},
                                  {"delay", required_argument, nullptr, Delay},
                                  {"compare", required_argument, nullptr, Compare},
                                  {"mask", required_argument, nullptr, Mask},
                                  {"fuzz", required_argument, nullptr, Fuzz},
                                  {"max-diff", required_argument, nullptr, MaxDiff},
                                  {"diff", required_argument, nullptr, Diff},
                                  {"scale", required_argument, nullptr, Scale},
                                  {"wait-for", required_argument, nullptr, WaitFor},
                                  {"wait-stable", required_argument, nullptr, WaitStable},
                                  {"timeout", required_argument, nullptr, Timeout},
                                  {"on-change", no_argument, nullptr, OnChange},
                                  {"serve", optional_argument, nullptr, Serve},
                                  {"token", required_argument, nullptr, Token},
                                  {"quiet", no_argument, nullptr, 'q'},
                                  {"help", no_argument, nullptr, 'h'},
                                  {"version", no_argument, nullptr, 'V'},
                                  {nullptr, 0, nullptr, 0}};
    TCaptureOptions options;
    bool intervalGiven = false, qualityGiven = false, timeoutGiven = false, serveGiven = false;
    ::optind = 0;  // a fresh scan, also when parsing twice in one process
    ::opterr = 0;
    int argc = static_cast<int>(FArguments.size());
    for (int c;
         (c = ::getopt_long(argc, FPointers.data(), ":lp:o:fc:i:qhV", Long, nullptr)) != -1;) {
      switch (c) {
        case 'l':
          options.List = true;
          break;
        case 'p':
          options.Port = ::optarg;
          if (options.Port.empty()) throw EUsage("--port takes a port's name, not \"\"");
          break;
        case 'o':
          SetOutput(options, ::optarg);
          break;
        case 'f':
          options.Force = true;
          break;
        case Quality:
          options.Quality = ParseNumber("--quality", ::optarg, 1, 100);
          qualityGiven = true;
          break;
        case Duration:
          options.Duration = ParseSeconds("--duration", ::optarg);
          break;
        case Delay:
          options.Delay = ParseSeconds("--delay", ::optarg);
          break;
        case Fps:
          options.Fps = ParseNumber("--fps", ::optarg, 1, 30);
          break;
        case Compare:
          options.Compare = ::optarg;
          if (options.Compare.empty()) throw EUsage("--compare takes a picture's name, not \"\"");
          break;
        case Mask:
          options.Rules.Masks.push_back(ParseRegion("--mask", ::optarg));
          break;
        case Fuzz:
          options.Rules.Fuzz = ParseNumber("--fuzz", ::optarg, 0, 255);
          break;
        case MaxDiff:
          options.Rules.MaxDiff =
              ParseNumber("--max-diff", ::optarg, 0, ScreenWidth * ScreenHeight);
          break;
        case Diff:
          options.Diff = ::optarg;
          if (FormatOfName(options.Diff) != TPictureFormat::Png)
            throw EUsage("--diff writes a .png, not \"" + options.Diff + "\"");
          break;
        case Scale:
          options.Scale = ParseNumber("--scale", ::optarg, 1, 8);
          break;
        case WaitFor:
          options.WaitFor = ::optarg;
          if (options.WaitFor.empty()) throw EUsage("--wait-for takes a picture's name, not \"\"");
          break;
        case WaitStable:
          options.WaitStable = ParseSeconds("--wait-stable", ::optarg);
          if (options.WaitStable <= 0) throw EUsage("--wait-stable takes seconds above 0");
          break;
        case OnChange:
          options.OnChange = true;
          break;
        case Serve:
          serveGiven = true;
          options.Serve = ::optarg ? ::optarg : "";
          break;
        case Token:
          options.Token = ::optarg;
          if (options.Token.empty()) throw EUsage("--token takes the token, not \"\"");
          break;
        case Timeout:
          options.Timeout = ParseSeconds("--timeout", ::optarg), timeoutGiven = true;
          break;
        case 'c':
          options.Count = ParseNumber("--count", ::optarg, 0, 100000);
          break;
        case 'i':
          options.Interval = ParseSeconds("--interval", ::optarg), intervalGiven = true;
          break;
        case 'q':
          options.Quiet = true;
          break;
        case 'h':
          options.Help = true;
          break;
        case 'V':
          options.Version = true;
          break;
        case ':':
          throw EUsage(Offending() + " needs a value");
        default:
          throw EUsage(Refusal(Long));
      }
    }
    for (int i = ::optind; i < argc; ++i)
      SetOutput(options, FPointers[static_cast<std::size_t>(i)]);
    if (serveGiven) return CheckServe(options);
    if (!options.Token.empty()) throw EUsage("--token needs --serve");
    Check(options, intervalGiven);
    bool waiting = !options.WaitFor.empty() || options.WaitStable > 0;
    if (timeoutGiven && !waiting) throw EUsage("--timeout needs --wait-for or --wait-stable");
    if (qualityGiven && (options.Output.empty() || options.Output == "-" ||
                         FormatOfName(options.Output) != TPictureFormat::Jpeg))
      throw EUsage("--quality needs a .jpg or .jpeg output");
    return options;
  }

 private:
  // The option as it was typed: "--port" for --port, "-p" for -p.
  std::string Offending() const {
    std::string typed = FPointers[static_cast<std::size_t>(::optind - 1)];
    if (typed.rfind("--", 0) == 0) return typed.substr(0, typed.find('='));
    if (::optopt != 0 && ::optopt < 256) return std::string("-") + static_cast<char>(::optopt);
    return typed;
  }

  // Why getopt_long refused an option: unknown, ambiguous, or given a value it takes not.
  std::string Refusal(const option* longOptions) const {
    std::string typed = Offending();
    if (typed.rfind("--", 0) != 0) return "unknown option " + typed;
    std::string name = typed.substr(2);
    std::vector<std::string> matches;
    for (const option* o = longOptions; o->name; ++o) {
      std::string candidate = o->name;
      if (candidate == name && o->has_arg == no_argument) return typed + " takes no value";
      if (candidate.rfind(name, 0) == 0) matches.push_back("--" + candidate);
    }
    if (matches.size() == 1 && matches.front() == typed) return typed + " takes no value";
    if (matches.size() < 2) return "unknown option " + typed;
    std::string names;
    for (const auto& match : matches) names += (names.empty() ? "" : ", ") + match;
    return "ambiguous option " + typed + " (" + names + ")";
  }

  static void SetOutput(TCaptureOptions& options, const std::string& name) {
    if (!options.Output.empty())
      throw EUsage("one output only (\"" + options.Output + "\" and \"" + name + "\")");
    if (name.empty()) throw EUsage("an empty output name");
    options.Output = name;
  }

  // "--serve 8080" is taken as "--serve=8080": a picture's name always has an extension.
  TCaptureOptions CheckServe(TCaptureOptions options) const {
    bool address = options.Output.find_first_not_of("0123456789") == std::string::npos ||
                   options.Output.find(':') != std::string::npos;
    if (options.Serve.empty() && !options.Output.empty() && address)
      options.Serve = std::exchange(options.Output, "");
    if (options.Serve.empty()) options.Serve = DefaultServeAddress;
    TCaptureOptions plain;
    plain.Port = options.Port, plain.Quiet = options.Quiet, plain.Force = options.Force;
    plain.Serve = options.Serve, plain.Token = options.Token;
    if (options.Output != plain.Output || options.Count != plain.Count ||
        options.Interval != plain.Interval || options.Duration != plain.Duration ||
        options.Delay != plain.Delay || options.Fps != plain.Fps ||
        options.Quality != plain.Quality || options.Compare != plain.Compare ||
        options.Scale != plain.Scale || options.WaitFor != plain.WaitFor ||
        options.WaitStable != plain.WaitStable || options.OnChange ||
        !options.Rules.Masks.empty() || options.Rules.Fuzz || options.Rules.MaxDiff ||
        !options.Diff.empty() || options.Timeout != plain.Timeout)
      throw EUsage("--serve takes only --port and --token");
    return options;
  }

  static void Check(const TCaptureOptions& options, bool intervalGiven) {
    std::string named = WithTimeFields(options.Output, std::time(nullptr));
    if (!options.Output.empty() && options.Output != "-") {
      FormatOfName(options.Output);
      NumberPatternOf(named);
    }
    bool series = options.Count != 1;
    if (options.Output == "-" && series)
      throw EUsage("standard output takes one picture; give a file name for a series");
    if (intervalGiven && !series)
      throw EUsage("--interval needs --count of 2 or more (or 0: until stopped)");
    bool animation = !options.Output.empty() && options.Output != "-" &&
                     IsAnimation(FormatOfName(options.Output));
    if (options.OnChange &&
        (animation || options.Output == "-" || (!series && options.Duration <= 0)))
      throw EUsage("--on-change keeps the pictures of a series (--count or --duration) in files");
    if ((options.Duration > 0 && !animation && !options.OnChange) ||
        (options.Fps > 0 && !animation))
      throw EUsage("--duration and --fps need a .gif or .webp output");
    if (options.Duration > 0 && series) throw EUsage("--duration and --count exclude each other");
    if (options.Duration > 0 && options.Duration < MinimumDuration)
      throw EUsage("--duration is shorter than one frame (about 0.3 s)");
    bool waiting = !options.WaitFor.empty() || options.WaitStable > 0;
    if (!options.WaitFor.empty() && options.WaitStable > 0)
      throw EUsage("--wait-for and --wait-stable exclude each other");
    if (waiting && (!options.Compare.empty() || series || animation || options.Output == "-"))
      throw EUsage("a wait takes one picture, saved to a file when one is named");
    bool comparing = !options.Compare.empty() || !options.WaitFor.empty() || options.WaitStable > 0;
    if (!comparing && !options.OnChange &&
        (!options.Rules.Masks.empty() || options.Rules.Fuzz > 0 || options.Rules.MaxDiff > 0))
      throw EUsage("--mask, --fuzz and --max-diff need --compare, a wait or --on-change");
    if (!options.Diff.empty() && options.Compare.empty()) throw EUsage("--diff needs --compare");
    if (comparing && (series || animation || options.Output == "-"))
      throw EUsage("--compare takes one picture, saved to a file when one is named");
    if (animation && NumberPatternOf(named))
      throw EUsage("\"" + options.Output +
                   "\": an animation is one file; its name takes no number");
  }

  std::vector<std::string> FArguments;
  std::vector<char*> FPointers;
};

}  // namespace

bool IsAnimation(TPictureFormat format) {
  return format == TPictureFormat::Gif || format == TPictureFormat::WebP;
}

TPictureFormat FormatOfName(const std::string& name) {
  std::string extension = Extension(name);
  if (SameTextIgnoringCase(extension, ".bmp")) return TPictureFormat::Bmp;
  if (SameTextIgnoringCase(extension, ".jpg") || SameTextIgnoringCase(extension, ".jpeg"))
    return TPictureFormat::Jpeg;
  if (SameTextIgnoringCase(extension, ".png")) return TPictureFormat::Png;
  if (SameTextIgnoringCase(extension, ".gif")) return TPictureFormat::Gif;
  if (SameTextIgnoringCase(extension, ".webp")) return TPictureFormat::WebP;
  throw EUsage("\"" + name + "\": the name must end in .bmp, .jpg, .jpeg, .png, .gif or .webp");
}

TCaptureOptions ParseCaptureOptions(const std::vector<std::string>& arguments) {
  return TOptionParser(arguments).Parse();
}

}  // namespace korbenit
