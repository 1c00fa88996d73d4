// The batch file and the job checks: what a hand-written file may hold and
// what is refused with the line that is wrong.
#include <gtest/gtest.h>

#include "provision_job.h"

namespace {

TEST(ProvisionJobs, BatchFileRows) {
  std::vector<ProvisionJob> jobs;
  const std::string text =
      "ID;rx-start-hour;rx-hours;wireless-mode;datetime;flags;clock-calibration;new-id\r\n"
      "12345678;22;2;Mode S;yes;1 off 3 on;300 on;87654321\r\n"
      "\r\n"
      "12345679;;4;;no;;;\r\n"
      "12345680;;;;;33 on;;\r\n";
  ASSERT_EQ(ParseJobsText(text, jobs), "");
  ASSERT_EQ(jobs.size(), 3u);
  EXPECT_EQ(jobs[0].id, "12345678");
  EXPECT_EQ(jobs[0].rxStartHour, 22);
  EXPECT_EQ(jobs[0].rxHours, 2);
  EXPECT_EQ(jobs[0].wirelessMode, "Mode S");
  EXPECT_TRUE(jobs[0].setClock);
  EXPECT_EQ(jobs[0].flags, (std::map<int, bool>{{1, false}, {3, true}}));
  EXPECT_EQ(jobs[0].calibration, 300);
  EXPECT_TRUE(jobs[0].calibrationOn);
  EXPECT_EQ(jobs[0].newId, "87654321");
  EXPECT_EQ(WantedText(jobs[0]),
            "start 22, hours 2, Mode S, flag 1 off, flag 3 on, calibration 300 on, clock, new ID 87654321");
  EXPECT_FALSE(jobs[1].rxStartHour.has_value());
  EXPECT_EQ(jobs[1].rxHours, 4);
  EXPECT_FALSE(jobs[1].setClock);
  EXPECT_EQ(jobs[2].flags, (std::map<int, bool>{{33, true}}));

  // Columns in any order, a comma or a tab between cells.
  jobs.clear();
  ASSERT_EQ(ParseJobsText("rx-hours,id\n3,11111111\n", jobs), "");
  ASSERT_EQ(ParseJobsText("id\twireless-mode\n22222222\tMode T+C\n", jobs), "");
  ASSERT_EQ(jobs.size(), 2u);
  EXPECT_EQ(jobs[0].id, "11111111");
  EXPECT_EQ(jobs[0].rxHours, 3);
  EXPECT_EQ(jobs[1].wirelessMode, "Mode T+C");
}

TEST(ProvisionJobs, BadBatchFilesNameTheLine) {
  struct Case {
    const char* text;
    const char* error;
  };
  const Case cases[] = {
      {"", "no header row"},
      {"id;colour\n12345678;red\n", "line 1: unknown column 'colour'"},
      {"rx-hours\n3\n", "line 1: no id column"},
      {"id;id\n1;2\n", "line 1: column 'id' twice"},
      {"id;rx-hours\n", "no jobs below the header row"},
      {"id;rx-hours\n12345678;7\n", "line 2: rx-hours must be 1..6, not '7'"},
      {"id;rx-start-hour\n12345678;24\n", "line 2: rx-start-hour must be 0..23, not '24'"},
      {"id;rx-start-hour\n12345678;-1\n", "line 2: rx-start-hour must be 0..23, not '-1'"},
      {"id;rx-hours\n12345678;99999999999\n", "line 2: rx-hours must be 1..6, not '99999999999'"},
      {"id;rx-hours\n1234567;3\n", "line 2: repeater ID must be 8 digits: '1234567'"},
      {"id;rx-hours\n1234567x;3\n", "line 2: repeater ID must be 8 digits: '1234567x'"},
      {"id;rx-hours\n12345678;3;9\n", "line 2: more cells than the header has columns"},
      {"id\n12345678\n", "line 2: nothing to set for repeater 12345678"},
      {"id;wireless-mode\n12345678;mode s\n",
       "line 2: wireless mode must be one of \"Mode T+C\", \"Mode T\", \"Mode S\", \"Mode C\""},
      {"id;flags\n12345678;3\n", "line 2: flags must be pairs 'N on|off', not '3'"},
      {"id;flags\n12345678;65 on\n", "line 2: flags must be pairs 'N on|off' with N 1..64, not '65 on'"},
      {"id;flags\n12345678;3 yes\n", "line 2: flags must be pairs 'N on|off' with N 1..64, not '3 yes'"},
      {"id;flags\n12345678;3 on 33 on\n",
       "line 2: flags 1-32 and 33-64 go in separate jobs of the same repeater"},
      {"id;clock-calibration\n12345678;40000 on\n",
       "line 2: clock-calibration must be 'V on|off' with V 0..32767, not '40000 on'"},
      {"id;datetime\n12345678;maybe\n", "line 2: datetime must be yes or no, not 'maybe'"},
      {"id;new-id\n12345678;12345678\n", "line 2: new ID 12345678 is the repeater's present ID"},
      {"id;new-id\n12345678;8765432\n", "line 2: new ID must be 8 digits: '8765432'"},
      // A bad row anywhere refuses the whole file: nothing is half run.
      {"id;rx-hours\n12345678;3\n12345679;0\n", "line 3: rx-hours must be 1..6, not '0'"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    std::vector<ProvisionJob> jobs;
    EXPECT_EQ(ParseJobsText(c.text, jobs), c.error);
    EXPECT_TRUE(jobs.empty());
  }
}

}  // namespace
