#include <windows.h>

#include <functional>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/AttemptLoop.h"
#include "app/CommandLine.h"
#include "base/Exception.h"
#include "ui/ConnectDialog.h"

namespace {
std::string text(const std::optional<std::string>& field) { return field ? *field : "<none>"; }

// Plays the user's answers and the attempts' outcomes from a script, and records what each pass saw.
class ScriptedLoop : public AttemptLoop {
public:
    using AttemptLoop::AttemptLoop;

    struct Answer {
        INT_PTR result;
        std::function<void(ConnectDialog&)> type;  // what the user changes before the dialog ends
    };
    std::vector<Answer> answers;
    std::vector<std::function<void(ConnectionValues&)>> outcomes;

    std::vector<std::string> presets;   // the dialog's entry when it was shown
    std::vector<std::string> attempts;  // the values each attempt got
    std::vector<std::string> reports;

protected:
    INT_PTR ask(ConnectDialog& dialog) override {
        const AddressEntry& e = dialog.currentEntry;
        presets.push_back(text(e.address) + "|" + text(e.login) + "|" + text(e.password));
        const Answer answer = answers.at(presets.size() - 1);
        if (answer.type)
            answer.type(dialog);
        return answer.result;
    }
    void attempt(ConnectionValues& v) override {
        attempts.push_back(std::string(v.address) + "|" + v.login + "|" + v.password + "|" +
                           std::to_string(v.argumentCount));
        if (attempts.size() <= outcomes.size() && outcomes[attempts.size() - 1])
            outcomes[attempts.size() - 1](v);
    }
    void report(const char* text) override { reports.push_back(text); }
};

void arguments(ConnectionValues& values, const char* line) {
    parseCommandLine(line, values);
    takeArguments(values);
}

void typed(ConnectDialog& dialog, const char* address, const char* login, const char* password) {
    dialog.currentEntry.address = address;
    dialog.currentEntry.login = login;
    if (password)
        dialog.currentEntry.password = password;
    else
        dialog.currentEntry.password.reset();
}

void fails(ConnectionValues&) { throw Exception("Invalid port - 80x"); }

TEST(AttemptLoopTest, Passes) {
    const std::string longAddress(200, 'a');
    struct Case {
        const char* name;
        const char* commandLine;
        std::vector<ScriptedLoop::Answer> answers;
        std::vector<std::function<void(ConnectionValues&)>> outcomes;
        int status;
        std::vector<std::string> presets, attempts, reports;
    } cases[] = {
        {"three arguments: no dialog", "10.0.0.1 admin secret", {}, {}, -1, {}, {"10.0.0.1|admin|secret|3"}, {}},
        {"five arguments: no dialog, the rest ignored",
         "10.0.0.1 admin \"\" x y",
         {},
         {},
         -1,
         {},
         {"10.0.0.1|admin||5"},
         {}},
        {"two arguments preset the dialog; the user types the password",
         "10.0.0.1:8080 admin",
         {{1, [](ConnectDialog& d) { d.currentEntry.password = "typed"; }}},
         {},
         -1,
         {"10.0.0.1:8080|admin|<none>"},
         {"10.0.0.1:8080|admin|typed|2"},
         {}},
        {"cancel ends with 1 and no attempt", "", {{IDCANCEL, nullptr}}, {}, 1, {"<none>|<none>|<none>"}, {}, {}},
        {"only 2 cancels: any other end goes on",
         "",
         {{5, [](ConnectDialog& d) { typed(d, "r", "l", nullptr); }}},
         {},
         -1,
         {"<none>|<none>|<none>"},
         {"r|l||0"},
         {}},
        {"a dialog that cannot be made ends with 1, said once",
         "",
         {{-1, nullptr}},
         {},
         1,
         {"<none>|<none>|<none>"},
         {},
         {"Could not open the connect dialog"}},
        {"a failure with three arguments asks next time, with the values that failed",
         "10.0.0.1:80x admin secret",
         {{1, [](ConnectDialog& d) { typed(d, "10.0.0.1:8080", "admin", "secret"); }}},
         {fails},
         -1,
         {"10.0.0.1:80x|admin|secret"},
         {"10.0.0.1:80x|admin|secret|3", "10.0.0.1:8080|admin|secret|2"},
         {"Invalid port - 80x"}},
        {"errors of every kind are reported, then cancel",
         "",
         {{1, [](ConnectDialog& d) { typed(d, "a", "b", "c"); }},
          {1, [](ConnectDialog& d) { typed(d, "d", "e", "f"); }},
          {IDCANCEL, nullptr}},
         {[](ConnectionValues&) { throw std::bad_alloc(); },
          [](ConnectionValues&) { throw std::runtime_error("other"); }},
         1,
         {"<none>|<none>|<none>", "a|b|c", "d|e|f"},
         {"a|b|c|0", "d|e|f|0"},
         {"std::bad_alloc", "other"}},
        // runModal raises what a dialog handler threw (tested with the dialog itself).
        {"an error raised by the dialog is reported once and ends with 1: it would fail again",
         "10.0.0.1 admin",
         {{1, [](ConnectDialog&) { throw std::bad_alloc(); }}, {IDCANCEL, nullptr}},
         {},
         1,
         {"10.0.0.1|admin|<none>"},
         {},
         {"std::bad_alloc"}},
        {"texts are cut to 127 characters",
         "",
         {{1, [&](ConnectDialog& d) { typed(d, longAddress.c_str(), "admin", ""); }}},
         {},
         -1,
         {"<none>|<none>|<none>"},
         {std::string(127, 'a') + "|admin||0"},
         {}},
    };
    for (const Case& c : cases) {
        ConnectionValues values;
        arguments(values, c.commandLine);
        ScriptedLoop loop(values);
        loop.answers = c.answers;
        loop.outcomes = c.outcomes;
        EXPECT_EQ(c.status, loop.run()) << c.name;
        EXPECT_EQ(c.presets, loop.presets) << c.name;
        EXPECT_EQ(c.attempts, loop.attempts) << c.name;
        EXPECT_EQ(c.reports, loop.reports) << c.name;
    }
}

}  // namespace
