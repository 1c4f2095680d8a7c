#include "tools/common/vcd.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <map>
#include <sstream>
#include <utility>
#include <vector>

namespace murvane_tools {

namespace {

constexpr uint64_t unit_ns = 100;

// Identifier codes: letters, which no reader mistakes for a timestamp.
std::string vcd_id(size_t i) {
  std::string id;
  do {
    id += static_cast<char>('a' + i % 26);
    i /= 26;
  } while (i != 0);
  return id;
}

// The file's words, and the line (from 1) each one is on.
struct Words {
  std::vector<std::string> tok;
  std::vector<size_t> line;
};

Words words(const std::string& text) {
  Words out;
  size_t line = 1;
  size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    if (c == '\n') {
      ++line;
      ++i;
    } else if (std::isspace(static_cast<unsigned char>(c)) != 0) {
      ++i;
    } else {
      const size_t from = i;
      while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])) == 0) {
        ++i;
      }
      out.tok.push_back(text.substr(from, i - from));
      out.line.push_back(line);
    }
  }
  return out;
}

// "1 us", "100ns", "10 ps": nanoseconds per unit as a fraction.
bool parse_timescale(const std::string& scale, long double* ns_per_unit) {
  size_t digits = 0;
  while (digits < scale.size() && std::isdigit(static_cast<unsigned char>(scale[digits])) != 0) {
    ++digits;
  }
  if (digits == 0) {
    return false;
  }
  const long double n = std::stold(scale.substr(0, digits));
  const std::string unit = scale.substr(digits);
  static const std::map<std::string, long double> units = {{"s", 1e9L},  {"ms", 1e6L},  {"us", 1e3L},
                                                           {"ns", 1.0L}, {"ps", 1e-3L}, {"fs", 1e-6L}};
  const auto u = units.find(unit);
  if (u == units.end() || (n != 1 && n != 10 && n != 100)) {
    return false;
  }
  *ns_per_unit = n * u->second;
  return true;
}

// Every writer ends its lines: a last line without its end is a file cut
// short (a capture still being written, a truncated copy).
void check_whole_file(const std::string& text, const Words& all, const std::string& source) {
  const std::vector<std::string>& tok = all.tok;
  if (tok.empty() || tok[0].empty() || tok[0][0] != '$') {
    throw CaptureError(source, "not a VCD file (it does not begin with a $ keyword)");
  }
  if (text.back() != '\n') {
    const size_t last = text.find_last_of('\n');
    const std::string cut = text.substr(last == std::string::npos ? 0 : last + 1);
    throw CaptureError(source, "line " + std::to_string(all.line.back()) +
                                   ": the file ends in the middle of this line (\"" + cut.substr(0, 40) +
                                   "\"): cut short?");
  }
}

// Reads a VCD's words in two stages: the header (the one-bit signals and the
// timescale), then the value changes on the time axis.
class VcdReader {
 public:
  VcdReader(const Words& all, const std::string& source) : all_(all), tok_(all.tok), source_(source) {}

  void read_header();
  void read_changes();
  Waveform take() { return std::move(w_); }

 private:
  std::string at_line(size_t k) const {
    return "line " + std::to_string(all_.line[std::min(k, tok_.size() - 1)]) + ": ";
  }
  std::vector<std::string> until_end(size_t from);
  void header_keyword(const std::string& kw, const std::vector<std::string>& body);
  void timestamp(const std::string& t);
  void level(const std::string& t);

  const Words& all_;
  const std::vector<std::string>& tok_;
  const std::string& source_;
  Waveform w_;
  std::map<std::string, std::vector<size_t>> by_id_;
  long double ns_per_unit_ = 1.0L;
  size_t i_ = 0;  // the word being read
  // The body: whether a timestamp came yet, the first one, the current one,
  // and which signals have their start level.
  bool timed_ = false;
  uint64_t first_time_ = 0;
  uint64_t now_ = 0;
  std::vector<bool> given_;
};

std::vector<std::string> VcdReader::until_end(size_t from) {
  std::vector<std::string> body;
  size_t k = from;
  for (; k < tok_.size() && tok_[k] != "$end"; ++k) {
    body.push_back(tok_[k]);
  }
  if (k == tok_.size()) {
    throw CaptureError(source_, at_line(from - 1) + "VCD header: " + tok_[from - 1] + " without $end");
  }
  i_ = k + 1;
  return body;
}

void VcdReader::read_header() {
  bool defined = false;
  while (i_ < tok_.size() && !defined) {
    const std::string& kw = tok_[i_];
    if (kw.empty() || kw[0] != '$') {
      throw CaptureError(source_, at_line(i_) + "VCD header: unexpected \"" + kw + "\"");
    }
    const std::vector<std::string> body = until_end(i_ + 1);
    if (kw == "$enddefinitions") {
      defined = true;
    } else {
      header_keyword(kw, body);
    }
  }
  if (!defined) {
    throw CaptureError(source_, "VCD header does not end ($enddefinitions missing)");
  }
}

void VcdReader::header_keyword(const std::string& kw, const std::vector<std::string>& body) {
  if (kw == "$timescale") {
    std::string scale;
    for (const std::string& b : body) {
      scale += b;
    }
    if (!parse_timescale(scale, &ns_per_unit_)) {
      throw CaptureError(source_, at_line(i_ - 1) + "VCD header: unusable $timescale \"" + scale + "\"");
    }
  } else if (kw == "$var") {
    // $var TYPE SIZE ID NAME [INDEX] $end
    if (body.size() < 4) {
      throw CaptureError(source_, at_line(i_ - 1) + "VCD header: $var with too few words");
    }
    if (body[1] == "1") {
      by_id_[body[2]].push_back(w_.names.size());
      w_.names.push_back(body[3]);
      w_.initial.push_back(true);
    }
  }
}

void VcdReader::read_changes() {
  given_.assign(w_.names.size(), false);
  for (; i_ < tok_.size(); ++i_) {
    const std::string& t = tok_[i_];
    if (t[0] == '#') {
      timestamp(t);
    } else if (t[0] == '$') {
      if (t == "$comment") {
        while (i_ < tok_.size() && tok_[i_] != "$end") {
          ++i_;
        }
      }
      // $dumpvars, $dumpall, $dumpon, $dumpoff and their $end carry no level
    } else if (t[0] == 'b' || t[0] == 'B' || t[0] == 'r' || t[0] == 'R') {
      ++i_;  // a vector or real value and its identifier
    } else {
      level(t);
    }
  }
  w_.start_ns = first_time_;
  w_.end_ns = now_;
}

void VcdReader::timestamp(const std::string& t) {
  uint64_t v = 0;
  try {
    size_t used = 0;
    v = std::stoull(t.substr(1), &used);
    if (used + 1 != t.size()) {
      throw std::invalid_argument(t);
    }
  } catch (const std::logic_error&) {
    throw CaptureError(source_, at_line(i_) + "VCD: bad timestamp \"" + t + "\"");
  }
  const auto ns = static_cast<uint64_t>(static_cast<long double>(v) * ns_per_unit_ + 0.5L);
  if (timed_ && ns < now_) {
    throw CaptureError(source_, at_line(i_) + "VCD: time goes backwards at \"" + t + "\"");
  }
  if (!timed_) {
    first_time_ = ns;
  }
  timed_ = true;
  now_ = ns;
}

void VcdReader::level(const std::string& t) {
  const char v = static_cast<char>(std::tolower(static_cast<unsigned char>(t[0])));
  if (v != '0' && v != '1' && v != 'x' && v != 'z') {
    throw CaptureError(source_, at_line(i_) + "VCD: unexpected \"" + t + "\"");
  }
  const auto id = by_id_.find(t.substr(1));
  if (id == by_id_.end()) {
    return;  // a signal the header did not declare as one bit
  }
  const bool high = v != '0';
  for (const size_t sig : id->second) {
    // A signal's first level at the first timestamp is where it starts;
    // a second one at that time is an edge right at the start.
    if ((!timed_ || now_ == first_time_) && !given_[sig]) {
      w_.initial[sig] = high;
      given_[sig] = true;
    } else {
      w_.changes.push_back({now_, sig, high});
    }
  }
}

}  // namespace

void write_vcd(std::ostream& out, const Waveform& w) {
  out << "$version murvane-sim $end\n";
  if (!w.comment.empty()) {
    out << "$comment " << w.comment << " $end\n";
  }
  out << "$timescale " << unit_ns << " ns $end\n$scope module murvane $end\n";
  for (size_t i = 0; i < w.names.size(); ++i) {
    out << "$var wire 1 " << vcd_id(i) << ' ' << w.names[i] << " $end\n";
  }
  out << "$upscope $end\n$enddefinitions $end\n#0\n";
  for (size_t i = 0; i < w.names.size(); ++i) {
    out << (w.initial[i] ? '1' : '0') << vcd_id(i) << '\n';
  }
  uint64_t last = 0;
  for (const Waveform::Change& c : w.changes) {
    const uint64_t t = c.t_ns / unit_ns;
    if (t != last) {
      out << '#' << t << '\n';
      last = t;
    }
    out << (c.level ? '1' : '0') << vcd_id(c.signal) << '\n';
  }
  out << '#' << w.end_ns / unit_ns << '\n';
}

void write_vcd_file(const std::string& path, const Waveform& w) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) {
    throw std::runtime_error("cannot write " + path);
  }
  write_vcd(out, w);
  out.flush();
  if (!out) {
    throw std::runtime_error("writing " + path + " failed");
  }
}

bool looks_like_vcd(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t\r\n");
  return first != std::string::npos && text[first] == '$';
}

Waveform read_vcd(const std::string& text, const std::string& source) {
  const Words all = words(text);
  check_whole_file(text, all, source);
  VcdReader reader(all, source);
  reader.read_header();
  reader.read_changes();
  return reader.take();
}

}  // namespace murvane_tools
