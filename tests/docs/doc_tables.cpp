// Prints the documentation tables that list every family or model, from the
// one list (core/family_list.h), the chip models' facts and the worst-case
// paths, for scripts/update-docs-figures.sh to put between the pages'
// "figures" markers. With a new line in the list, that script rewrites them.
//
// usage: murvane-doc-tables families | models | bring-up-bounds | bring-up-terms | worst-case
//                           | sweep-violations | family-count
#include <cstdio>
#include <string>
#include <vector>

#include "sim/models/family_facts.h"
#include "sim/models/model_table.h"
#include "tests/fault_sweep.h"
#include "tests/worst_case.h"

namespace {

#define DOC_FAMILY_LETTER(name, letter) #letter,
constexpr const char* family_letters[sim::family_count] = {MURVANE_FAMILIES(DOC_FAMILY_LETTER)};
#undef DOC_FAMILY_LETTER

const char* letter_of(sim::family_id f) { return family_letters[static_cast<size_t>(f)]; }

std::vector<const sim::model_info*> models_of(sim::family_id f) {
  std::vector<const sim::model_info*> out;
  for (const sim::model_info& m : sim::model_infos) {
    if (m.family == f) {
      out.push_back(&m);
    }
  }
  return out;
}

// "zq3101, zq3102" for two models, "zq3201 … zq3204" for more; quote wraps each name.
std::string model_range(sim::family_id f, const std::string& quote) {
  const std::vector<const sim::model_info*> models = models_of(f);
  const std::string first = quote + models.front()->name + quote;
  if (models.size() == 1) {
    return first;
  }
  const std::string last = quote + models.back()->name + quote;
  return first + (models.size() == 2 ? ", " : " … ") + last;
}

std::string hex(uint32_t v, int digits) {
  char buf[16];
  std::snprintf(buf, sizeof(buf), "0x%0*X", digits, v);
  return buf;
}

std::string bit_of(uint8_t mask) {
  for (int b = 0; b < 8; ++b) {
    if (mask == (1U << b)) {
      return "bit " + std::to_string(b);
    }
  }
  return "bits " + hex(mask, 2);
}

void print_families() {
  std::printf("| Letter | Folder | Models | Identifier width | Read from | Qualification bit |\n");
  std::printf("|---|---|---|---|---|---|\n");
  bool sixteen_seen = false;
  for (const sim::family_id f : sim::all_families) {
    const char* name = sim::first_model_of(f).family_name;
    std::string width = "one byte";
    std::string from = "register 0x00";
    if (!sim::one_byte_id(f)) {
      width = "16 bits";
      from = sixteen_seen ? "the same" : "0x57 (high), 0x58 (low), after 0x00 reads 0x00..0x03 or 0x80..0x83";
      sixteen_seen = true;
    }
    const sim::family_facts& facts = sim::facts_of(f);
    const std::string qualification = facts.qualification.mask == 0
                                          ? "none"
                                          : hex(facts.qualification.reg, 2) + " " + bit_of(facts.qualification.mask);
    std::printf("| %s | `families/%s/` | %s | %s | %s | %s |\n", letter_of(f), name, model_range(f, "`").c_str(),
                width.c_str(), from.c_str(), qualification.c_str());
  }
}

void print_models() {
  std::printf("| Model | Identifier | Family | Folder | Logged as |\n|---|---|---|---|---|\n");
  for (const sim::model_info& m : sim::model_infos) {
    std::printf("| `%s` | %s | %s | `%s` | `Murvane: detected %s.` |\n", m.name, hex(m.id, m.id > 0xFF ? 4 : 2).c_str(),
                letter_of(m.family), m.family_name, m.name);
  }
}

void print_bring_up_bounds() {
  std::printf("| Family | Models | Worst-case bring-up (entry point or `Start`) |\n|---|---|---|\n");
  for (const sim::family_id f : sim::all_families) {
    std::printf("| %s (`%s`) | %s | %s |\n", letter_of(f), sim::first_model_of(f).family_name,
                model_range(f, "").c_str(),
                murvane_test::worst_case_ms(murvane_test::worst_case_us(f, "entry")).c_str());
  }
}

// The fault sweep's failed-transfer runs that left a protocol violation in
// the chip model, per family and call: the sweep's own runs on the family's
// first model (every model of a family has the same counts).
void print_sweep_violations() {
  std::printf("| family | entry | Start | get_f0 | offset_calibration |\n|---|---|---|---|---|\n");
  for (const sim::family_id f : sim::all_families) {
    const sim::model_info& model = sim::first_model_of(f);
    std::printf("| %s |", model.family_name);
    for (const murvane_test::SweepCall call : murvane_test::sweep_calls) {
      const murvane_test::SweepViolations v = murvane_test::sweep_violations(model.name, call);
      if (v.runs == 0) {
        std::printf(" no transfers |");
      } else {
        std::printf(" %d of %d |", v.with_violations, v.runs);
      }
    }
    std::printf("\n");
  }
}

void print_family_count() {
  constexpr const char* words[] = {"no",    "one",   "two",  "three", "four",   "five",  "six",
                                   "seven", "eight", "nine", "ten",   "eleven", "twelve"};
  if (sim::family_count < sizeof(words) / sizeof(words[0])) {
    std::printf("%s\n", words[sim::family_count]);
  } else {
    std::printf("%zu\n", sim::family_count);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const std::string what = argc == 2 ? argv[1] : "";
  if (what == "families") {
    print_families();
  } else if (what == "models") {
    print_models();
  } else if (what == "bring-up-bounds") {
    print_bring_up_bounds();
  } else if (what == "bring-up-terms") {
    std::fputs(murvane_test::bringup_terms_table().c_str(), stdout);
  } else if (what == "worst-case") {
    std::fputs(murvane_test::worst_case_tables().c_str(), stdout);
  } else if (what == "sweep-violations") {
    print_sweep_violations();
  } else if (what == "family-count") {
    print_family_count();
  } else {
    std::fprintf(stderr,
                 "usage: murvane-doc-tables families | models | bring-up-bounds | bring-up-terms | worst-case | "
                 "sweep-violations | "
                 "family-count\n");
    return 2;
  }
  return 0;
}
