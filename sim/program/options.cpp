#include "options.h"

#include <CLI/CLI.hpp>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>

namespace zelto::sim {

std::optional<long> parseIn(const std::string& text, Range range) {
    if (text.empty())
        return std::nullopt;
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || v < range.min || v > range.max)
        return std::nullopt;
    return v;
}

std::optional<double> parseNumber(const std::string& text) {
    if (text.empty())
        return std::nullopt;
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (*end != '\0' || !std::isfinite(v))
        return std::nullopt;
    return v;
}

std::string rangeText(Range range) {
    return std::to_string(range.min) + ".." + std::to_string(range.max);
}

namespace {

const char* const Description =
    R"(Serves a simulated I/O board on a pseudo-terminal. The first line on standard output is the
device to open (57600 8N1); each line after it is one command the board decoded, with its bytes
and the board's answer, e.g.
  30          a2d pin 0 -> 03 FF
Lines that begin with "#" answer control commands. Errors go to standard error.
)";

const char* const Footer =
    R"(Control commands, one per line on standard input (the program keeps running when input ends):
  analog PIN VALUE      set analog input PIN (for pin 0 this stops the temperature drift)
  temperature F         drive analog input 0 from a drifting temperature around F
  input PIN 0|1         level applied from outside to PIN, read when PIN is an input
  count V | pulsein V | rctime V | counter V
                        the answer to the next count, pulsein, rctime, counter read
  silent on|off   delay MS   stray N   pace on|off
  cts low|high          change clear-to-send (needs --cts-file)
  state                 print the board's state
  quit                  end, as on SIGINT or SIGTERM

Ends cleanly with status 0 on SIGINT, SIGTERM or quit; 2 for bad options; 1 on failure.
)";

// The help in this program's layout: usage, description, options with --help last, footer.
class Help : public CLI::Formatter {
  public:
    Help() { column_width(22); }
    std::string make_help(const CLI::App* app, std::string, CLI::AppFormatMode) const override {
        std::string out =
            "Usage: zelto-sim [options]\n\n" + app->get_description() + "\nOptions:\n";
        for (const CLI::Option* opt : app->get_options())
            if (opt != app->get_help_ptr())
                out += make_option(opt, false);
        out += make_option(app->get_help_ptr(), false);
        return out + "\n" + app->get_footer();
    }
};

// Option callbacks that store the value or fail with the option's rule.
std::function<void(const std::string&)> whole(long& target, Range range, const std::string& name) {
    return [&target, range, name](const std::string& text) {
        const auto v = parseIn(text, range);
        if (!v)
            throw CLI::ValidationError(name + " wants " + rangeText(range));
        target = *v;
    };
}

std::function<void(const std::string&)> number(std::optional<double>& target,
                                               const std::string& name) {
    return [&target, name](const std::string& text) {
        target = parseNumber(text);
        if (!target)
            throw CLI::ValidationError(name + " wants a number");
    };
}

} // namespace

Options parseOptions(int argc, char** argv) {
    Options o;
    CLI::App app(Description, "zelto-sim");
    app.formatter(std::make_shared<Help>());
    app.footer(Footer);
    app.set_help_flag("-h,--help", "show this text");
    // An option given again replaces the value before it; --analog adds one.
    app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);

    app.add_option("--link", o.link,
                   "also make PATH a symbolic link to the device (removed on exit)")
        ->option_text("PATH");
    const std::string analogFault = "--analog wants PIN=VALUE with PIN " + rangeText(AnalogPin) +
                                    " and VALUE " + rangeText(AnalogValue);
    app.add_option_function<std::string>(
           "--analog",
           [&o, analogFault](const std::string& text) {
               const auto eq = text.find('=');
               const auto pin = parseIn(text.substr(0, eq), AnalogPin);
               const auto value = eq == std::string::npos
                                      ? std::nullopt
                                      : parseIn(text.substr(eq + 1), AnalogValue);
               if (!pin || !value)
                   throw CLI::ValidationError(analogFault);
               o.analog.emplace_back(static_cast<int>(*pin), static_cast<int>(*value));
           },
           "value of analog input PIN (" + rangeText(AnalogPin) + ") answered to a2d, " +
               rangeText(AnalogValue) + " (repeatable)")
        ->option_text("PIN=VALUE")
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
        ->trigger_on_parse();
    app.add_option_function<std::string>(
           "--temperature", number(o.temperature, "--temperature"),
           "a temperature sensor (10 mV per degree F) on analog input 0 that drifts\n"
           "by 3 F either side of F over 60 s; overrides --analog 0=...")
        ->option_text("F");
    app.add_option_function<std::string>("--delay", whole(o.delayMs, DelayMs, "--delay"),
                                         "wait MS milliseconds before answering")
        ->option_text("MS");
    app.add_flag("--silent", o.silent, "take the commands but never answer")
        ->disable_flag_override();
    app.add_option_function<std::string>(
           "--stray", whole(o.stray, StrayBytes, "--stray"),
           "send N stray bytes (FF) before the answer 51 of the opening handshake\n"
           "(the command 01 right after 00)")
        ->option_text("N");
    app.add_flag("--pace", o.pace,
                 "take commands and send answers at the byte rate of the line (about\n"
                 "174 us per byte)")
        ->disable_flag_override();
    app.add_option(
           "--cts-file", o.ctsFile,
           "signal clear-to-send through PATH: it holds \"1\" while asserted and \"0\"\n"
           "while not; written whole (via PATH.tmp and a rename); \"1\" at start, \"0\" on\n"
           "exit")
        ->option_text("PATH");

    app.add_option("--log", o.log,
                   "write the log (the decoded commands and the answers to control commands)\n"
                   "to PATH, or nowhere with none; the device stays the first line of standard\n"
                   "output. A line that cannot be written at once is dropped and counted")
        ->option_text("PATH|none");

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        std::fputs(app.help().c_str(), stdout);
        std::exit(0);
    } catch (const CLI::ParseError& e) {
        std::fprintf(stderr, "zelto-sim: %s\nTry 'zelto-sim --help'.\n", e.what());
        std::exit(2);
    }
    return o;
}

} // namespace zelto::sim
