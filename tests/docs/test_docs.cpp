// Pages that must agree with the code: the models page lists exactly the
// driver's 19 models with their identifiers and families.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "core/family.h"

namespace {

std::string read_doc(const char* name) {
  const std::filesystem::path doc =
      std::filesystem::path(__FILE__).parent_path().parent_path().parent_path() / "docs" / name;
  std::ifstream in(doc);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// "0x95", "0x7150": as the page writes identifiers.
std::string id_text(uint32_t id) {
  char buf[16];
  std::snprintf(buf, sizeof(buf), id > 0xFF ? "0x%04X" : "0x%02X", id);
  return buf;
}

size_t family_index(const murvane::chip_family* f) {
  for (size_t i = 0; i < murvane::chip_family_count; ++i) {
    if (murvane::chip_families[i] == f) {
      return i;
    }
  }
  return murvane::chip_family_count;
}

TEST(ModelsPage, ListsEveryModelWithItsIdentifierAndFamily) {
  const std::string page = read_doc("models.md");
  ASSERT_FALSE(page.empty()) << "docs/models.md is missing";
  for (const murvane::chip_model& m : murvane::chip_models) {
    const size_t f = family_index(m.family);
    ASSERT_LT(f, murvane::chip_family_count) << m.model;
    const std::string row = std::string("| `") + m.model + "` | " + id_text(m.id) + " | " + static_cast<char>('A' + f) +
                            " | `" + m.family->name + "` | `Murvane: detected " + m.model + ".` |\n";
    EXPECT_NE(page.find(row), std::string::npos) << "docs/models.md has no row\n" << row;
  }
}

TEST(ModelsPage, HasNoModelTheDriverDoesNotKnow) {
  const std::string page = read_doc("models.md");
  const std::regex row(R"(\n\| `(zq\d{4})` \| 0x)");
  std::set<std::string> listed;
  for (auto it = std::sregex_iterator(page.begin(), page.end(), row); it != std::sregex_iterator(); ++it) {
    EXPECT_TRUE(listed.insert((*it)[1].str()).second) << (*it)[1] << " is listed twice";
  }
  EXPECT_EQ(listed.size(), murvane::chip_model_count);
  for (const std::string& name : listed) {
    EXPECT_NE(murvane::find_chip_model(name.c_str()), nullptr) << name << " is not one of the driver's models";
  }
}

TEST(ModelsPage, FamilyLettersMatchTheFolders) {
  const std::string page = read_doc("models.md");
  for (size_t i = 0; i < murvane::chip_family_count; ++i) {
    const std::string row =
        std::string("| ") + static_cast<char>('A' + i) + " | `families/" + murvane::chip_families[i]->name + "/` |";
    EXPECT_NE(page.find(row), std::string::npos) << "docs/models.md has no row starting\n" << row;
  }
}

}  // namespace
