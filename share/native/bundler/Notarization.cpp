#include "Notarization.h"

#include <optional>
#include <vector>

#include "BundleError.h"
#include "Json.h"
#include "Signing.h"
#include "Subprocess.h"

namespace fs = std::filesystem;

namespace {

// As many of the log's issues as a failure may show before its line.
constexpr std::size_t kShownIssues = 5;

std::string xcrun() {
  return macOSTool("--notarize", "xcrun").string();
}

// The JSON object that notarytool printed with --output-format json: the
// whole output, or else its last line that is one.
std::optional<JsonValue> answerOf(const std::string& out) {
  std::optional<JsonValue> answer = parseJson(out);
  for (std::string::size_type end = out.size(); !answer && end > 0;) {
    const std::string::size_type start = out.rfind('\n', end - 1);
    const std::string::size_type from =
        start == std::string::npos ? 0 : start + 1;
    answer = parseJson(out.substr(from, end - from));
    end = start == std::string::npos ? 0 : start;
  }
  if (answer && answer->kind != JsonValue::Kind::object) {
    answer.reset();
  }
  return answer;
}

// The lines of the issues in a notary log: "path": message (architecture).
std::vector<std::string> issueLines(const std::string& log) {
  std::vector<std::string> lines;
  const std::optional<JsonValue> parsed = answerOf(log);
  const JsonValue* issues = parsed ? parsed->member("issues") : nullptr;
  if (issues == nullptr) {
    return lines;
  }
  for (const JsonValue& issue : issues->items) {
    std::string line = "notary issue: " + inQuotes(issue.stringMember("path")) +
                       ": " + issue.stringMember("message");
    const std::string architecture = issue.stringMember("architecture");
    if (!architecture.empty()) {
      line += " (" + architecture + ")";
    }
    lines.push_back(line);
  }
  return lines;
}

[[noreturn]] void rejected(const fs::path& image, const std::string& id,
                           const std::string& status,
                           const std::string& profile) {
  const std::string logCommand =
      "xcrun notarytool log " + id + " --keychain-profile " + profile;
  const ProgramResult log = runProgram(
      {xcrun(), "notarytool", "log", id, "--keychain-profile", profile});
  std::vector<std::string> issues =
      log.exitCode == 0 ? issueLines(log.out) : std::vector<std::string>();
  std::string summary = "status " + status;
  if (log.exitCode != 0) {
    summary += "; its log is not to be had (" + log.firstLine() + ")";
  } else if (issues.size() > kShownIssues) {
    summary += ", " + std::to_string(issues.size()) + " issues, the first " +
               std::to_string(kShownIssues) + " above";
    issues.resize(kShownIssues);
  } else if (!issues.empty()) {
    summary +=
        ", the " +
        (issues.size() == 1 ? std::string("issue")
                            : std::to_string(issues.size()) + " issues") +
        " above";
  }
  throw BundleError("the notary service did not accept " +
                        inQuotes(image.filename().string()) + " (" + summary +
                        "): `" + logCommand + "` shows its log",
                    issues);
}

}  // namespace

void checkCanNotarize() {
  for (const char* tool : {"notarytool", "stapler"}) {
    const ProgramResult found = runProgram({xcrun(), "--find", tool});
    if (found.exitCode != 0) {
      throw BundleError(std::string("--notarize needs ") + tool +
                        ", which `xcrun --find " + tool + "` does not find (" +
                        found.firstLine() +
                        "): install Xcode or its command line tools");
    }
  }
}

void notarize(const fs::path& image, const fs::path& bundle,
              const std::string& profile) {
  const std::vector<std::string> submit{
      xcrun(),        "notarytool",         "submit",
      image.string(), "--keychain-profile", profile,
      "--wait",       "--output-format",    "json"};
  const ProgramResult submitted = runProgram(submit);
  const std::optional<JsonValue> answer = answerOf(submitted.out);
  const std::string id = answer ? answer->stringMember("id") : "";
  const std::string status = answer ? answer->stringMember("status") : "";
  if (id.empty() || status.empty()) {
    throw BundleError("`xcrun notarytool submit` failed (" +
                      submitted.howItEnded() + "): " + submitted.firstLine());
  }
  if (status != "Accepted") {
    rejected(image, id, status, profile);
  }
  for (const fs::path& stapled : {image, bundle}) {
    runProgramOrFail({xcrun(), "stapler", "staple", stapled.string()});
  }
}
