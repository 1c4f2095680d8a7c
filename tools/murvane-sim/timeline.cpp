// --timeline: the run on a time axis, one row per boot phase, so a person
// sees where the boot's milliseconds go: the reset pulse, the waits (gaps)
// and the transfers of each phase, failed ones in red.
#include <algorithm>
#include <array>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "tools/common/reg_names.h"
#include "tools/murvane-sim/bus_files.h"
#include "tools/murvane-sim/report.h"

namespace murvane_sim {

using murvane_tools::register_name;

namespace {

enum Phase : size_t { identification, calibration, defaults, download, setup, go, phase_count };
constexpr std::array<const char*, phase_count> phase_names = {"identification",    "calibration",     "defaults",
                                                              "waveform download", "playback set-up", "GO"};
constexpr std::array<const char*, phase_count> phase_colours = {"#4c78a8", "#f58518", "#54a24b",
                                                                "#b279a2", "#72b7b2", "#e45756"};

// Registers whose names say they serve a measurement: the resonance (f0),
// offset and trim calibrations.
bool calibration_register(const std::string& name) {
  for (const char* key : {"f0", "offset", "cal", "trim", "d2s", "detect", "measure"}) {
    if (name.find(key) != std::string::npos) {
      return true;
    }
  }
  return false;
}

struct Span {
  uint64_t start;
  uint64_t end;
  size_t phase;
  bool failed;
  size_t call;  // which call into the driver made it (0: the first)
};

constexpr int left = 170;
constexpr int plot_width = 1000;
constexpr int row_height = 34;
constexpr int top = 60;

std::string fixed(double v, int decimals) {
  char buf[64];
  static_cast<void>(std::snprintf(buf, sizeof buf, "%.*f", decimals, v));
  return buf;
}

std::string general(double v) {
  char buf[64];
  static_cast<void>(std::snprintf(buf, sizeof buf, "%g", v));
  return buf;
}

std::string escape(const std::string& s) {
  std::string out;
  for (const char c : s) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

// How wide a label of the 12-pixel sans-serif font is at most: digits,
// spaces and lower-case letters stay within 7 pixels each.
double label_width(const std::string& text) { return 7.0 * static_cast<double>(text.size()); }

// A step of 1, 2 or 5 times a power of ten giving about six axis marks.
double axis_step_ms(double total_ms) {
  double step = 0.001;
  while (total_ms / step > 8) {
    for (const double m : {2.0, 2.5, 2.0}) {
      step *= m;
      if (total_ms / step <= 8) {
        break;
      }
    }
  }
  return step;
}

// What the run did, on one clock: the transfers by phase, the waits, the
// reset pin's edges and the calls into the driver.
struct Timeline {
  std::vector<Span> spans;
  std::vector<std::pair<uint64_t, uint64_t>> waits;  // start, length
  std::vector<std::pair<uint64_t, bool>> pin;        // reset-pin edges: time, level
  std::vector<std::pair<uint64_t, std::string>> calls;
  uint64_t now = 0;  // the end of the run so far
};

// Sorts the events into the timeline; the driver's log lines move the boot
// from one phase to the next.
Timeline collect_timeline(const Simulation& sim) {
  const std::string family = naming_family(sim);
  Timeline tl;
  size_t stage = identification;  // moved on by the driver's log lines
  size_t call = 0;                // calls seen so far
  for (const sim::Event& e : sim.platform().events()) {
    const std::string ev = e["ev"].get<std::string>();
    const uint64_t at = sim::event_start_ns(e);
    tl.now = std::max(tl.now, sim::event_end_ns(e));
    if (ev == "stall") {
      tl.waits.emplace_back(at, e["us"].get<uint64_t>() * 1000);
    } else if (ev == "pin_set") {
      tl.pin.emplace_back(at, e["level"].get<uint64_t>() != 0);
    } else if (ev == "call") {
      tl.calls.emplace_back(at, e["fn"].get<std::string>());
      call = tl.calls.size() - 1;
      // entry, load and start each bring the chip up from identification on.
      if (e["fn"] == "entry" || e["fn"] == "load" || e["fn"] == "start") {
        stage = identification;
      }
    } else if (ev == "log") {
      const std::string text = e["text"].get<std::string>();
      if (text.find("detected") != std::string::npos) {
        stage = calibration;
      } else if (text.find("ram init") != std::string::npos) {
        stage = download;
      } else if (text.find("ram play") != std::string::npos) {
        stage = setup;
      }
    } else if (ev == "i2c_read" || ev == "i2c_write") {
      size_t phase = stage;
      if (stage == calibration &&
          !calibration_register(register_name(family, static_cast<uint8_t>(e["reg"].get<uint64_t>())))) {
        phase = defaults;
      }
      tl.spans.push_back({at, sim::event_end_ns(e), phase, e["status"].get<uint64_t>() != 0, call});
    }
  }
  return tl;
}

// The transfer that ended as the chip saw GO is the GO.
void mark_go(const Simulation& sim, std::vector<Span>& spans) {
  for (const CallResult& r : sim.results()) {
    if (r.go_ns == 0) {
      continue;
    }
    for (auto s = spans.rbegin(); s != spans.rend(); ++s) {
      if (s->end <= r.go_ns) {
        s->phase = go;
        break;
      }
    }
  }
}

// The SVG picture of a timeline. Rows: reset pin, every transfer with the
// waits between, then one per phase; under them the time axis.
class Picture {
 public:
  explicit Picture(const Timeline& tl)
      : tl_(tl), total_(std::max<uint64_t>(tl.now, 1000)), total_ms_(static_cast<double>(total_) / 1e6) {}

  void header(const std::string& chip);
  void reset_pin_row();
  void bus_row();
  void phase_row(size_t p);
  void calls_and_axis();
  std::string finish() {
    svg_ << "</svg>\n";
    return svg_.str();
  }

  static constexpr int rows = 2 + static_cast<int>(phase_count);

 private:
  double x(uint64_t t) const { return left + static_cast<double>(t) / static_cast<double>(total_) * plot_width; }
  static int row_y(int row) { return top + row * row_height; }
  void label(int row, const std::string& text);

  const Timeline& tl_;
  uint64_t total_;
  double total_ms_;
  std::ostringstream svg_;
};

void Picture::header(const std::string& chip) {
  const int height = top + rows * row_height + 60;
  svg_ << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << left + plot_width + 30 << "\" height=\"" << height
       << "\" font-family=\"sans-serif\" font-size=\"12\">\n"
       << "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
  const size_t failed = std::count_if(tl_.spans.begin(), tl_.spans.end(), [](const Span& s) { return s.failed; });
  svg_ << "<text x=\"10\" y=\"22\" font-size=\"15\">" << escape(chip) << ": " << fixed(total_ms_, 3)
       << " ms on the virtual clock, " << tl_.spans.size() << " transfers"
       << (failed > 0 ? ", " + std::to_string(failed) + " failed" : std::string()) << "</text>\n";
  svg_ << "<text x=\"10\" y=\"40\" fill=\"#555\">gaps are the driver's waits (Stall); red marks a failed transfer"
       << "</text>\n";
}

void Picture::label(int row, const std::string& text) {
  svg_ << "<text x=\"10\" y=\"" << row_y(row) + 20 << "\">" << escape(text) << "</text>\n";
  svg_ << "<line x1=\"" << left << "\" x2=\"" << left + plot_width << "\" y1=\"" << row_y(row) + row_height
       << "\" y2=\"" << row_y(row) + row_height << "\" stroke=\"#eee\"/>\n";
}

// Reset pin: its level as a line; the low part is the reset pulse.
void Picture::reset_pin_row() {
  label(0, "reset pin");
  bool level = true;
  uint64_t t = 0;
  std::string points;
  auto point = [&](uint64_t at, bool lv) {
    points += fixed(x(at), 2) + "," + std::to_string(row_y(0) + (lv ? 8 : 26)) + " ";
  };
  point(0, level);
  for (const auto& [at, lv] : tl_.pin) {
    point(at, level);
    point(at, lv);
    if (!lv && level) {
      t = at;
    } else if (lv && !level) {
      // Right of the rise, below the high level.
      svg_ << "<text x=\"" << fixed(x(at) + 4, 2) << "\" y=\"" << row_y(0) + 24 << "\" fill=\"#a00\">reset pulse "
           << fixed(static_cast<double>(at - t) / 1e6, 1) << " ms</text>\n";
    }
    level = lv;
  }
  point(total_, level);
  svg_ << "<polyline fill=\"none\" stroke=\"black\" points=\"" << points << "\"/>\n";
}

// Every transfer, with the waits drawn as labelled gaps.
void Picture::bus_row() {
  label(1, "bus (all transfers)");
  for (const Span& s : tl_.spans) {
    svg_ << "<rect x=\"" << fixed(x(s.start), 2) << "\" y=\"" << row_y(1) + 6 << "\" width=\""
         << fixed(std::max(0.5, x(s.end) - x(s.start)), 2) << "\" height=\"22\" fill=\"" << (s.failed ? "#d00" : "#333")
         << "\"/>\n";
  }
  for (const auto& [at, len] : tl_.waits) {
    if (x(at + len) - x(at) >= 60) {
      svg_ << "<text x=\"" << fixed((x(at) + x(at + len)) / 2, 2) << "\" y=\"" << row_y(1) + 21
           << "\" text-anchor=\"middle\" fill=\"#777\">wait " << general(static_cast<double>(len) / 1e6)
           << " ms</text>\n";
    }
  }
}

// One row per phase: its transfers, and for each call that reached the
// phase its own span from first to last, labelled where the label fits
// between the row names and the picture's edge without covering another.
void Picture::phase_row(size_t p) {
  const int row = 2 + static_cast<int>(p);
  label(row, phase_names[p]);
  double failed_label_end = 0;
  std::vector<std::pair<uint64_t, uint64_t>> per_call(tl_.calls.size() + 1, {UINT64_MAX, 0});
  for (const Span& s : tl_.spans) {
    if (s.phase != p) {
      continue;
    }
    per_call[s.call].first = std::min(per_call[s.call].first, s.start);
    per_call[s.call].second = std::max(per_call[s.call].second, s.end);
    svg_ << "<rect x=\"" << fixed(x(s.start), 2) << "\" y=\"" << row_y(row) + 6 << "\" width=\""
         << fixed(std::max(0.5, x(s.end) - x(s.start)), 2) << "\" height=\"22\" fill=\""
         << (s.failed ? "#d00" : phase_colours[p]) << "\"/>\n";
    // One "failed" label for failures closer together than it is wide.
    if (s.failed && x(s.start) >= failed_label_end) {
      svg_ << "<text x=\"" << fixed(x(s.start), 2) << "\" y=\"" << row_y(row) + 4
           << "\" fill=\"#d00\" font-size=\"10\">failed</text>\n";
      failed_label_end = x(s.start) + 40;
    }
  }
  bool reached = false;
  double label_end = left;  // nothing may be written left of the plot: the row names are there
  for (const auto& [first, last] : per_call) {
    if (first == UINT64_MAX) {
      continue;
    }
    reached = true;
    svg_ << "<rect x=\"" << fixed(x(first), 2) << "\" y=\"" << row_y(row) + 15 << "\" width=\""
         << fixed(std::max(0.5, x(last) - x(first)), 2) << "\" height=\"4\" fill=\"" << phase_colours[p]
         << "\" opacity=\"0.4\"/>\n";
    const std::string text =
        fixed(static_cast<double>(first) / 1e6, 3) + " to " + fixed(static_cast<double>(last) / 1e6, 3) + " ms";
    const double width = label_width(text);
    double at = 0;  // the label's left end
    if (x(last) + 4 + width <= left + plot_width && x(last) + 4 >= label_end) {
      at = x(last) + 4;
    } else if (x(first) - 4 - width >= label_end) {
      at = x(first) - 4 - width;
    } else {
      continue;  // no room: the bar speaks for itself, the next call's label may still fit
    }
    svg_ << "<text x=\"" << fixed(at, 2) << "\" y=\"" << row_y(row) + 20 << "\">" << text << "</text>\n";
    label_end = at + width + 8;
  }
  if (!reached) {
    svg_ << "<text x=\"" << left + 4 << "\" y=\"" << row_y(row) + 20 << "\" fill=\"#999\">not reached</text>\n";
  }
}

// Calls into the driver, and the time axis.
void Picture::calls_and_axis() {
  const int axis_y = row_y(rows) + 10;
  for (const auto& [at, fn] : tl_.calls) {
    svg_ << "<line x1=\"" << fixed(x(at), 2) << "\" x2=\"" << fixed(x(at), 2) << "\" y1=\"" << top << "\" y2=\""
         << axis_y << "\" stroke=\"#999\" stroke-dasharray=\"3,3\"/>\n";
    const bool near_end = x(at) > left + plot_width - 100;  // keep the name inside the picture
    svg_ << "<text x=\"" << fixed(x(at) + (near_end ? -2 : 2), 2) << "\" y=\"" << top - 4 << "\" fill=\"#555\""
         << (near_end ? " text-anchor=\"end\"" : "") << ">" << escape(fn) << "</text>\n";
  }
  svg_ << "<line x1=\"" << left << "\" x2=\"" << left + plot_width << "\" y1=\"" << axis_y << "\" y2=\"" << axis_y
       << "\" stroke=\"black\"/>\n";
  const double step = axis_step_ms(total_ms_);
  for (int mark = 0; mark * step <= total_ms_ + 1e-9; ++mark) {
    const double t = mark * step;
    const double px = left + t / total_ms_ * plot_width;
    svg_ << "<line x1=\"" << fixed(px, 2) << "\" x2=\"" << fixed(px, 2) << "\" y1=\"" << axis_y << "\" y2=\""
         << axis_y + 5 << "\" stroke=\"black\"/>\n"
         << "<text x=\"" << fixed(px, 2) << "\" y=\"" << axis_y + 18 << "\" text-anchor=\"middle\">" << general(t)
         << "</text>\n";
  }
  svg_ << "<text x=\"" << left + plot_width << "\" y=\"" << axis_y + 34 << "\" text-anchor=\"end\">time, ms</text>\n";
}

void write_file(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) {
    throw std::runtime_error("cannot write " + path);
  }
  out << text;
  out.flush();
  if (!out) {
    throw std::runtime_error("writing " + path + " failed");
  }
}

}  // namespace

void write_timeline_file(const Simulation& sim, const std::string& path) {
  Timeline tl = collect_timeline(sim);
  mark_go(sim, tl.spans);
  Picture picture(tl);
  picture.header(sim.scenario().chip);
  picture.reset_pin_row();
  picture.bus_row();
  for (size_t p = 0; p < phase_count; ++p) {
    picture.phase_row(p);
  }
  picture.calls_and_axis();
  write_file(path, picture.finish());
}

}  // namespace murvane_sim
