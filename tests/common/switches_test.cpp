#include "common/switches.h"

#include <gtest/gtest.h>

#include "common/console.h"

namespace {

struct Parsed {
  std::vector<std::string> parameters;
  int status = 0;
  std::string out;
  std::string err;
  bool exited = false;  // a ToolExit ended the parse
  std::string carried;  // the text it carried
};

struct Settings {
  bool batch = false;
  DeviceAddress address;
  bool address_given = false;
  uint16_t speed = 0;
  std::string volume;
};

CommandLine rules_for(Settings* s) {
  CommandLine rules;
  rules.tool_name = "TESTTOOL";
  rules.usage_lines = {"Usage: TESTTOOL <file>\n"};
  rules.switches = {
      plain_switch("/BATCH", &s->batch),
      address_switch("/ID", &s->address, &s->address_given, "Error: Illegal /ID format!\n"),
      number_switch("/SPEED", &s->speed, "Error: Illegal /SPEED format!\n"),
      text_switch("/VOLUME", &s->volume, "Error: Illegal /VOLUME format!\n")};
  rules.parameter_missing = {"Error: Filename must be specified!\n", ""};
  return rules;
}

Parsed parse(Settings* s, std::vector<const char*> args) {
  args.insert(args.begin(), "testtool");
  Parsed parsed;
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  parsed.status = run_tool([&] {
    try {
      parsed.parameters =
          parse_command_line(rules_for(s), static_cast<int>(args.size()), args.data());
    } catch (const ToolExit& exit_record) {
      parsed.exited = true;
      parsed.carried = exit_record.text;
      throw;
    }
    return 0;
  });
  parsed.out = testing::internal::GetCapturedStdout();
  parsed.err = testing::internal::GetCapturedStderr();
  // Whatever ends a parse carries exactly what it printed.
  if (parsed.exited) {
    EXPECT_EQ(parsed.carried, parsed.out + parsed.err);
  }
  return parsed;
}

TEST(SwitchParser, SwitchesAreCaseInsensitiveAndParametersKeepTheirCase) {
  Settings s;
  Parsed p = parse(&s, {"/batch", "Disc.Cue", "/id=1:4:0", "/Speed=4", "/volume=mydisc"});
  EXPECT_EQ(p.status, 0);
  EXPECT_TRUE(s.batch);
  EXPECT_EQ(p.parameters, (std::vector<std::string>{"Disc.Cue"}));
  EXPECT_TRUE(s.address_given);
  EXPECT_EQ(s.address, (DeviceAddress{1, 4, 0}));
  EXPECT_EQ(s.speed, 4);
  EXPECT_EQ(s.volume, "MYDISC");
}

TEST(SwitchParser, MalformedValuesGiveTheSwitchsOwnMessage) {
  for (const char* bad : {"/IDX", "/ID=1:4", "/IDENTIFY=1:2:3", "/ID=a:b:c"}) {
    Settings s;
    Parsed p = parse(&s, {"file", bad});
    EXPECT_EQ(p.status, 1) << bad;
    EXPECT_EQ(p.err, "Error: Illegal /ID format!\n") << bad;
    EXPECT_FALSE(s.address_given) << bad;
  }
  Settings s;
  Parsed p = parse(&s, {"file", "/SPEED="});
  EXPECT_EQ(p.status, 1);
  EXPECT_EQ(p.err, "Error: Illegal /SPEED format!\n");
}

TEST(SwitchParser, UnknownSwitchSurplusAndMissingParameters) {
  Settings s;
  Parsed p = parse(&s, {"file", "/batchx"});
  EXPECT_EQ(p.status, 1);
  EXPECT_EQ(p.err, "Invalid switch - /batchx\n");
  EXPECT_FALSE(s.batch);

  p = parse(&s, {"a", "b", "c"});
  EXPECT_EQ(p.status, 1);
  EXPECT_EQ(p.err, "Too many parameters - c\n");

  p = parse(&s, {"/BATCH"});
  EXPECT_EQ(p.status, 1);
  EXPECT_EQ(p.err, "Error: Filename must be specified!\n");
}

TEST(SwitchParser, UsageScreenOnQuestionMarkAndEmptyLine) {
  Settings s;
  const std::string usage =
      "TESTTOOL.EXE - Version 2.4A (November 1996)\n\nUsage: TESTTOOL <file>\n";
  Parsed p = parse(&s, {"file", "/?"});
  EXPECT_EQ(p.status, 1);
  EXPECT_EQ(p.out, usage);
  p = parse(&s, {});
  EXPECT_EQ(p.status, 1);
  EXPECT_EQ(p.out, usage);
  EXPECT_EQ(p.err, "");
}

TEST(SwitchParser, AbsolutePathsAreParameters) {
  EXPECT_FALSE(is_switch_argument("/data/in.iso"));
  EXPECT_FALSE(is_switch_argument("//disc.cue"));
  EXPECT_TRUE(is_switch_argument("/MODE2"));
  EXPECT_TRUE(is_switch_argument("/VOLUME=A/B"));
  Settings s;
  Parsed p = parse(&s, {"/data/in.iso", "/data/out.bin", "/BATCH"});
  EXPECT_EQ(p.status, 0);
  EXPECT_EQ(p.parameters, (std::vector<std::string>{"/data/in.iso", "/data/out.bin"}));
}

}  // namespace
