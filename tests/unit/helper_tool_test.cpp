// Helper tools run by tool_run: what the tool starts with, both directions of
// the pipes at once, and the silence limit.
#include "platform/helper_tool.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

namespace kiv {
namespace {

ToolResult sh(const std::string& script, const std::string* input = nullptr,
              int silence_ms = kToolSilenceMs) {
  ToolRequest request;
  request.argv = {"sh", "-c", script};
  request.input = input;
  request.capture_output = true;
  request.capture_errors = true;
  request.silence_ms = silence_ms;
  return tool_run(request);
}

TEST(HelperTool, StartsWithOnlyTheStandardDescriptorsInAGroupOfItsOwn) {
  ToolResult r =
      sh("ls /proc/$$/fd; read -r _ _ _ _ group _ < /proc/$$/stat; [ $group = $$ ] && echo leader; echo oops "
         ">&2; exit 3");
  EXPECT_EQ(r.end, ToolEnd::kExited);
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(r.output, "0\n1\n2\nleader\n");
  EXPECT_EQ(r.errors, "oops\n");
  EXPECT_FALSE(r.ok());
}

TEST(HelperTool, InputAndOutputFlowAtOnce) {
  // More than a pipe holds each way: writing everything before reading would stall.
  std::string input;
  for (int i = 0; i < 200000; i++) input += "line " + std::to_string(i) + "\n";
  ToolResult r = sh("cat; cat /dev/zero | head -c 1000000 >&2", &input);
  EXPECT_TRUE(r.ok());
  EXPECT_EQ(r.output, input);
  EXPECT_EQ(r.errors.size(), 1000000u);
  // A tool that reads nothing ends the writing quietly.
  r = sh("exit 0", &input);
  EXPECT_TRUE(r.ok());
}

TEST(HelperTool, SilenceEndsTheToolAndWhatItStarted) {
  auto start = std::chrono::steady_clock::now();
  ToolResult r = sh("sleep 30 & sleep 30; echo late", nullptr, 200);
  EXPECT_EQ(r.end, ToolEnd::kTimedOut);
  EXPECT_EQ(r.output, "");
  // A tool that closed its streams but does not end is waited for as long.
  r = sh("exec >/dev/null 2>&1; sleep 30", nullptr, 200);
  EXPECT_EQ(r.end, ToolEnd::kTimedOut);
  EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 10.0);
}

TEST(HelperTool, AMissingToolDoesNotStart) {
  ToolRequest request;
  request.argv = {"kiv-no-such-tool-here"};
  EXPECT_EQ(tool_run(request).end, ToolEnd::kNotStarted);
  EXPECT_FALSE(tool_on_path_q("kiv-no-such-tool-here"));
  EXPECT_TRUE(tool_on_path_q("sh"));
}

}  // namespace
}  // namespace kiv
