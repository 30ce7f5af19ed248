// The environment layer: print level, program name, strings, environment, the error routine.
#include "imagefile/environment.hpp"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "fixture.hpp"
#include "imagefile/state.hpp"

namespace {

using imagetest::in_child;
using EnvironmentTest = imagetest::ImageFileTest;
using namespace imagefile;

TEST_F(EnvironmentTest, FirstMessageSetsThePrintLevelAndLaterOnesAreFiltered) {
  qprint(1, "swallowed: sets the level");
  EXPECT_EQ(qprlvl(), 1);
  qprint(2, "too detailed");
  qprint(1, "level one   ");
  qprint(0, "");
  EXPECT_EQ(report(), " level one\n\n");
}

TEST_F(EnvironmentTest, LongMessagesAreCutInto131Then130Characters) {
  qprint(0, "");
  std::string message;
  for (int i = 0; i < 300; ++i) message += static_cast<char>('a' + i % 26);
  qprint(0, message);
  EXPECT_EQ(report(),
            " " + message.substr(0, 131) + "\n " + message.substr(131, 130) + "\n " + message.substr(261) + "\n");
}

TEST_F(EnvironmentTest, ProgramNameIsTheLastComponentOfTheFirst20Characters) {
  set_arguments({"/usr/local/bin/sidesplit"});
  EXPECT_EQ(envpnm(), "sides");
  reset_for_tests();
  set_arguments({"./mapconvert.exe", "x"});
  EXPECT_EQ(envpnm(), "mapconvert");
  EXPECT_EQ(ugtarg(1), "x");
  EXPECT_EQ(ugtarg(2), "");
}

TEST_F(EnvironmentTest, StringHelpers) {
  EXPECT_EQ(lenstr("abc  "), 3);
  EXPECT_EQ(lenstr(std::string("ab\0\0", 4)), 2);
  EXPECT_EQ(lenstr("   "), 0);
  std::string s("ab\0\0", 4);
  EXPECT_EQ(numchars(s), 2);
  EXPECT_EQ(s, "ab  ");
  std::string t = "Map-1 x";
  envupc(t);
  EXPECT_EQ(t, "MAP-1 X");
  envlwc(t);
  EXPECT_EQ(t, "map-1 x");
}

TEST_F(EnvironmentTest, EnvironmentNamesAndExistence) {
  ::setenv("IN", "  data.map  ", 1);
  EXPECT_EQ(ugtenv("IN   "), "  data.map");
  EXPECT_EQ(ugtenv("NOT_SET_ANYWHERE"), "");
  EXPECT_FALSE(envexs("IN"));
  ::setenv("IN", "data.map", 1);
  write("data.map", "x");
  write("plain", "y");
  EXPECT_TRUE(envexs("IN"));
  EXPECT_TRUE(envexs("plain"));
  EXPECT_FALSE(envexs("absent"));
  ::setenv("USER", "", 1);
  ::setenv("LOGNAME", "someone", 1);
  EXPECT_EQ(ugtuid(), "someone");
}

TEST_F(EnvironmentTest, FatalErrorPrintsSystemTextAndReportLineAndExits255) {
  auto r = in_child([] {
    qprint(1, "sets the level");
    errno = ENOENT;
    enverr(-1, "(Q)QOPEN: can't open x");
  });
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.out, std::string(" Last system error message:\n ") + std::strerror(ENOENT) +
                       "\n imagetest:  (Q)QOPEN: can't open x\n");
  // Scripts see the failure too: one line naming the program, with the system's reason.
  EXPECT_EQ(r.err, std::string("imagetest: (Q)QOPEN: can't open x (") + std::strerror(ENOENT) + ")\n");
}

TEST_F(EnvironmentTest, FatalErrorBeforeAnyMessageSetsLevelZeroSilently) {
  auto r = in_child([] {
    errno = 0;
    fatal("QSEEK: qopen/qqopen not yet called");
  });
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.out, "");
}

TEST_F(EnvironmentTest, LevelOneAndZeroErrorsExitWithStatusOne) {
  auto one = in_child([] {
    qprint(1, "");
    enverr(1, " (Q)QOPEN failed - no streams left");
  });
  EXPECT_EQ(one.status, 1);
  EXPECT_EQ(one.out, " imagetest:   (Q)QOPEN failed - no streams left\n");
  EXPECT_EQ(one.err, " imagetest:   (Q)QOPEN failed - no streams left\n");
  auto zero = in_child([] {
    qprint(1, "");
    enverr(0, "stopping");
  });
  EXPECT_EQ(zero.status, 1);
  EXPECT_EQ(zero.out, " imagetest:  stopping\n");
}

TEST_F(EnvironmentTest, WarningsAndPlainMessagesReturn) {
  qprint(1, "");
  enverr(2, "careful");
  enverr(7, std::string(120, 'm'));
  EXPECT_EQ(report(), "\n  $TEXT:Warning: $$ comment $$\n  WARNING: careful\n  $$\n " + std::string(100, 'm') + "\n");
}

TEST_F(EnvironmentTest, ElapsedTimeLineOnlyOnceStarted) {
  qprint(1, "");
  getelapsed();
  EXPECT_EQ(report(), "");
  getelapsed();
  const std::string line = report();
  EXPECT_EQ(line.rfind(" Times: User: ", 0), 0u) << line;
  EXPECT_NE(line.find("s Elapsed:    0:00\n"), std::string::npos) << line;
}

}  // namespace
