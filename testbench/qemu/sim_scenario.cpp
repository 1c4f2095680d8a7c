#include "testbench/qemu/sim_scenario.h"

#include "sim/models/family_facts.h"
#include "testbench/qemu/text.h"

namespace fwsim {

namespace {

int hex_digit(char c) {
  if (c >= '0' && c <= '9') {
    return c - '0';
  }
  if (c >= 'a' && c <= 'f') {
    return c - 'a' + 10;
  }
  if (c >= 'A' && c <= 'F') {
    return c - 'A' + 10;
  }
  return -1;
}

// One or two hex digits, optionally "0x"-prefixed.
bool parse_hex_byte(const char* w, size_t n, uint8_t* out) {
  if (n > 2 && w[0] == '0' && (w[1] == 'x' || w[1] == 'X')) {
    w += 2;
    n -= 2;
  }
  if (n == 0 || n > 2) {
    return false;
  }
  unsigned v = 0;
  for (size_t i = 0; i < n; ++i) {
    const int d = hex_digit(w[i]);
    if (d < 0) {
      return false;
    }
    v = v * 16 + static_cast<unsigned>(d);
  }
  *out = static_cast<uint8_t>(v);
  return true;
}

bool parse_override(const char* w, size_t n, reg_override* out) {
  for (size_t i = 0; i < n; ++i) {
    if (w[i] == '=') {
      return parse_hex_byte(w, i, &out->reg) && parse_hex_byte(w + i + 1, n - i - 1, &out->value);
    }
  }
  return false;
}

const sim::model_info* find_model(const char* w, size_t n) {
  for (const sim::model_info& m : sim::model_infos) {
    if (word_is(w, n, m.name)) {
      return &m;
    }
  }
  return nullptr;
}

}  // namespace

const char* parse_status_text(parse_status s) {
  switch (s) {
    case parse_status::ok:
      return "ok";
    case parse_status::empty:
      return "no chip named";
    case parse_status::unknown_chip:
      return "unknown chip (a model name such as zq3201, or absent)";
    case parse_status::unknown_knob:
      return "unknown knob (noqualify, RR=VV or stacksmash)";
    case parse_status::no_qualification:
      return "noqualify: this family has no qualification check";
    case parse_status::knob_without_chip:
      return "knob given with no chip";
    case parse_status::too_many_overrides:
      return "too many register overrides";
  }
  return "?";
}

parse_status parse_scenario(const char* text, size_t len, scenario* out, const char** bad_word) {
  *out = {};
  scenario s = {};
  bool have_chip = false;
  bool absent = false;
  size_t i = 0;
  const char* w = nullptr;
  size_t n = 0;
  while (fwsim::next_word(text, len, &i, &w, &n)) {
    parse_status err = parse_status::ok;
    if (!have_chip) {
      have_chip = true;
      if (word_is(w, n, "absent")) {
        absent = true;
      } else {
        s.model = find_model(w, n);
        if (s.model == nullptr) {
          err = parse_status::unknown_chip;
        }
      }
    } else if (word_is(w, n, "stacksmash")) {
      s.stack_smash = true;
    } else if (absent) {
      err = parse_status::knob_without_chip;
    } else if (word_is(w, n, "noqualify")) {
      qualification_bit q = {};
      if (qualification_bit_of(s.model->family, &q)) {
        s.noqualify = true;
      } else {
        err = parse_status::no_qualification;
      }
    } else {
      reg_override o = {};
      if (!parse_override(w, n, &o)) {
        err = parse_status::unknown_knob;
      } else if (s.override_count == max_overrides) {
        err = parse_status::too_many_overrides;
      } else {
        s.overrides[s.override_count++] = o;
      }
    }
    if (err != parse_status::ok) {
      if (bad_word != nullptr) {
        *bad_word = w;
      }
      return err;
    }
  }
  if (!have_chip) {
    return parse_status::empty;
  }
  *out = s;
  return parse_status::ok;
}

bool qualification_bit_of(sim::family_id family, qualification_bit* out) {
  const sim::family_facts& facts = sim::facts_of(family);
  if (facts.qualification.mask == 0) {
    return false;
  }
  *out = {facts.qualification.reg, facts.qualification.mask};
  return true;
}

void apply_scenario(const scenario& s, sim::chip_model& chip) {
  if (s.model == nullptr) {
    return;
  }
  qualification_bit q = {};
  if (s.noqualify && qualification_bit_of(s.model->family, &q)) {
    chip.set_register(q.reg, static_cast<uint8_t>(chip.reg(q.reg) & ~q.mask));
  }
  for (size_t i = 0; i < s.override_count; ++i) {
    chip.set_register(s.overrides[i].reg, s.overrides[i].value);
  }
}

verdict judge(const sim::chip_model* chip, const uint8_t* image, size_t image_len, uint16_t base) {
  verdict v = {};
  if (chip == nullptr) {
    return v;
  }
  v.chip_present = true;
  const uint8_t* sram = chip->sram();
  for (size_t i = 0; i < image_len; ++i) {
    const size_t at = (base + i) % sim::chip_model::sram_size;
    if (sram[at] != image[i]) {
      if (v.sram_diffs == 0) {
        v.first_diff = static_cast<uint32_t>(at);
      }
      ++v.sram_diffs;
    }
  }
  v.sram_matches = v.sram_diffs == 0;
  v.playing = chip->playing();
  v.violations = chip->violation_count();
  return v;
}

size_t format_verdict(const verdict& v, const sim::chip_model* chip, size_t image_len, uint16_t base, char* buf,
                      size_t cap) {
  text_builder t(buf, cap);
  if (!v.chip_present || chip == nullptr) {
    t.put("verdict: no chip on the bus\n");
    return t.size();
  }
  t.put("verdict: chip ").put(chip->family_name()).put(" id ").hex(chip->chip_id(), 2).put('\n');
  t.put("verdict: sram ").hex(base, 4).put("..").hex(base + (image_len > 0 ? image_len - 1 : 0), 4);
  if (v.sram_matches) {
    t.put(" holds the waveform image\n");
  } else {
    t.put(" differs from the waveform image in ").dec(v.sram_diffs).put(" bytes, first at ").hex(v.first_diff, 4);
    t.put('\n');
  }
  t.put(v.playing ? "verdict: go set\n" : "verdict: go not set\n");
  t.put("verdict: violations ").dec(v.violations).put('\n');
  for (size_t i = 0; i < chip->violations_kept(); ++i) {
    const sim::violation& x = chip->violation_at(i);
    t.put("verdict: violation reg ").hex(x.reg, 2).put(" value ").hex(x.value, 2).put(": ").put(x.what).put('\n');
  }
  return t.size();
}

size_t format_traffic(uint64_t reads, uint64_t writes, uint64_t stalls, uint64_t stall_us, char* buf, size_t cap) {
  text_builder t(buf, cap);
  t.put("traffic: ").dec(reads).put(" reads, ").dec(writes).put(" writes, ").dec(stalls).put(" stalls, ");
  t.dec(stall_us).put(" us stalled\n");
  return t.size();
}

}  // namespace fwsim
