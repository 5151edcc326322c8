// tavrix-update-cli --json: every command's lines have the shapes the manual page lists, and
// standard output holds nothing else.

#include "support/cli_end_to_end.h"
#include "support/json_objects.h"

namespace {

// The 2A3 tells its blocks in status lines; the ATMU device moves a progress bar.
const CEndToEndEntry k2A3{"QI-2A3", "CUpdater2A3", 0x7D2A, "quadrel-2a3.hex", 405};
const CEndToEndEntry kATMU{"ZA0815-2T", "CUpdaterATMU", 0xA7B0, "atmu.hex", 312};

class JsonOutputTest : public CliEndToEndTest {
 protected:
  JsonOutputTest() { WriteCatalog({k2A3, kATMU}); }

  // Standard output alone, checked against the shapes; the types seen are collected.
  Run Json(const std::string& arguments, const std::string& errors = "2>/dev/null") {
    Run run = Cli("--json " + arguments, errors);
    EXPECT_EQ(JsonOutputProblems(run.output, &m_types), "") << arguments;
    return run;
  }

  std::set<std::string> m_types;
};

TEST_F(JsonOutputTest, EveryCommandWritesOnlyListedShapes) {
  EXPECT_EQ(Json("list").status, 0);
  EXPECT_EQ(Json("inspect '" + FirmwarePath(k2A3) + "' --as hex").status, 0);

  ASSERT_TRUE(PlugMany("2a", {"A1:variant=3,firmware=105", "A2:variant=3,firmware=105,refuse_ack=2"}));
  Run probe = Json("devices --probe");
  EXPECT_EQ(probe.status, 0);
  EXPECT_NE(probe.output.find("\"probe\":{\"catalog_id\":\"QI-2A3\",\"firmware\":\"1.05\""), std::string::npos)
      << probe.output;

  // People's text goes to standard error, not between the JSON lines.
  Run programmed = Json("update QI-2A3 --device A1", "2>'" + (m_folder / "stderr") + "'");
  EXPECT_EQ(programmed.status, 0);
  EXPECT_NE(ReadWholeFile(m_folder / "stderr").find(Text(37)), std::string::npos);
  EXPECT_NE(programmed.output.find("\"result\":\"programmed\""), std::string::npos) << programmed.output;
  EXPECT_TRUE(programmed.output.ends_with("}\n"));

  Run upToDate = Json("update QI-2A3 --device A1");
  EXPECT_NE(upToDate.output.find("\"result\":\"up to date\""), std::string::npos) << upToDate.output;

  Run failed = Json("update QI-2A3 --device A2");
  EXPECT_EQ(failed.status, 1);
  EXPECT_NE(failed.output.find("\"result\":\"failed\""), std::string::npos) << failed.output;

  ASSERT_TRUE(PlugMany("2a", {"A1:variant=3,firmware=105", "A2:variant=3,firmware=105"}));
  Run all = Json("update QI-2A3 --all");
  EXPECT_EQ(all.status, 0);
  EXPECT_NE(all.output.find("\"device_id\":\"A2\",\"device_path\""), std::string::npos) << all.output;

  ASSERT_TRUE(Plug("atmu", "firmware=105"));
  Run bar = Json("update ZA0815-2T");
  EXPECT_EQ(bar.status, 0);
  EXPECT_NE(bar.output.find("{\"type\":\"progress\",\"position\":1,"), std::string::npos);

  // The updates above are on record.
  Run history = Json("history");
  EXPECT_EQ(history.status, 0);
  EXPECT_NE(history.output.find("\"type\":\"record\",\"started\""), std::string::npos) << history.output;

  // Every shape but the network unit's (the ZT7720 end-to-end test sees it).
  std::set<std::string> expected;
  for (const auto& [type, shape] : JsonObjectShapes().items()) {
    if (type != "unit") expected.insert(type);
  }
  EXPECT_EQ(m_types, expected);
}

}  // namespace
