#pragma once
#include <array>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace ombry {

// Every problem the operator must see, with its fixed code, title and advice.
enum class IssueCode {
    mediaMissing,
    mediaFormat,
    mediaTimeout,
    imageUnreadable,
    mediaStoreFailed,
    slidesImportFailed,
    sequenceImportFailed,
    rendererFailed,
    displayOpenFailed,
    displayDisconnected,
    ndiFailed,
    syphonFailed,
    browserSourceCodec,
    outputServerFailed,
    controlServerFailed,
    projectOpenFailed,
    projectSaveFailed,
};

namespace issue_code {
inline constexpr std::array<IssueCode, 17> allCases = {
    IssueCode::mediaMissing,        IssueCode::mediaFormat,         IssueCode::mediaTimeout,
    IssueCode::imageUnreadable,     IssueCode::mediaStoreFailed,    IssueCode::slidesImportFailed,
    IssueCode::sequenceImportFailed, IssueCode::rendererFailed,     IssueCode::displayOpenFailed,
    IssueCode::displayDisconnected, IssueCode::ndiFailed,           IssueCode::syphonFailed,
    IssueCode::browserSourceCodec,  IssueCode::outputServerFailed,  IssueCode::controlServerFailed,
    IssueCode::projectOpenFailed,   IssueCode::projectSaveFailed,
};
}

const std::string& rawValue(IssueCode code);   // "MED-01"
const std::string& title(IssueCode code);      // "Clip is missing"
const std::string& advice(IssueCode code);
std::optional<IssueCode> issueCodeFromRaw(const std::string& raw);

// One reported problem.
struct Issue {
    std::string id;  // UUID, fixed at the first report
    IssueCode code = IssueCode::mediaMissing;
    std::optional<std::string> subject;
    int count = 1;
    double at = 0;  // wall-clock ms since 1970 of the latest report

    bool operator==(const Issue&) const = default;

    const std::string& title() const { return ombry::title(code); }
    const std::string& advice() const { return ombry::advice(code); }
    std::string message() const;
    std::string summary() const;
    std::string supportDetails() const;
    // The same, with the version values given (absent ones are written as an em dash).
    std::string supportDetails(const std::optional<std::string>& shortVersion,
                               const std::optional<std::string>& build, const std::string& osVersion) const;

    // From any thread: reports on the main queue as an automatic repeat.
    static void report(IssueCode code, const std::optional<std::string>& subject = std::nullopt,
                       const std::optional<std::string>& error = std::nullopt);
    // Writes the issue's line to the system log.
    static void log(IssueCode code, const std::optional<std::string>& subject = std::nullopt,
                    const std::optional<std::string>& error = std::nullopt);
    // Logs, shows the critical alert (or prints it when there is no display) and exits with status 1.
    [[noreturn]] static void fatal(IssueCode code);
    // The text of the fatal alert: "CODE · title" and the advice.
    static std::pair<std::string, std::string> fatalTexts(IssueCode code);
    // The window layer installs the alert; it must block until the operator presses "Quit".
    static void setFatalPresenter(std::function<void(const std::string& message, const std::string& informative)> p);
};

// The issues of this run, newest first, at most 20. Main thread only.
class IssueLog {
public:
    static constexpr size_t capacity = 20;
    static IssueLog& shared();

    const std::vector<Issue>& recent() const { return recent_; }
    const std::set<std::string>& dismissed() const { return dismissed_; }

    void report(IssueCode code, const std::optional<std::string>& subject = std::nullopt,
                const std::optional<std::string>& error = std::nullopt, bool automatic = false);
    void resolve(std::optional<IssueCode> code, const std::optional<std::string>& subject = std::nullopt);
    void dismiss(const Issue& issue);
    void clear();
    std::string codeDigest() const;

    // Called after every change of recent or dismissed.
    std::function<void()> onChange;

private:
    void changed();
    std::vector<Issue> recent_;
    std::set<std::string> dismissed_;
};

// One-line diagnostics under the application's log subsystem.
struct Diag {
    // Marked private: may hold user data.
    static void note(const std::string& category, const std::string& message);
    // Marked public: counters, timings and states without user data.
    static void metric(const std::string& category, const std::string& message);
    // User default "logMediaNames", read once per process.
    static bool mediaNamesInLog();
};

}  // namespace ombry
