// Host CPU cost of the driver on the virtual platform: one complete
// bring-up per family (virtual clock, nothing recorded), the platform set-up
// each of those includes, and formatting one log line.
//
// With --markdown the usual report goes to standard error and standard
// output gets the CPU table of docs/performance.md (CPU time per bring-up).
// With --modeled it runs no benchmark and prints the modeled table: per
// family the modeled bring-up time against its floor (the same on any host).
// With --sweep-table it prints the fault sweep's runs per model and call.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "host/harness.h"
#include "platform/log.h"
#include "sim/model_factory.h"
#include "sim/models/model_table.h"
#include "sim/virtual_platform.h"

namespace {

struct FamilyModel {
  const char* family;
  const char* model;
};

// One model per family: the family's first in core/family_list.h.
std::vector<FamilyModel> make_family_models() {
  std::vector<FamilyModel> out;
  for (const sim::family_id f : sim::all_families) {
    const sim::model_info& m = sim::first_model_of(f);
    out.push_back({m.family_name, m.name});
  }
  return out;
}

const std::vector<FamilyModel> family_models = make_family_models();

constexpr const char* end_line = "Murvane: zq uefi driver end\n";

// The traffic of one healthy bring-up, from its recorded trace.
struct Traffic {
  uint64_t reads = 0;
  uint64_t writes = 0;
  uint64_t stall_us = 0;
  // Waits between two readings of the same register: how many a poll needs
  // is up to the chip, so they are not part of the floor.
  uint64_t poll_us = 0;
  uint64_t modeled_ns = 0;
  uint64_t go_ns = 0;
  bool reached_end = false;

  uint64_t transfer_ns() const { return reads * sim::read_transfer_ns + writes * sim::write_transfer_ns; }
  uint64_t mandated_us() const { return stall_us - poll_us; }
  uint64_t floor_ns() const { return transfer_ns() + mandated_us() * 1000; }
};

Traffic measure(const char* model) {
  auto chip = sim::make_model(model);
  sim::VirtualPlatform p(&chip->model());
  host::call_entry(p);
  Traffic t;
  t.modeled_ns = p.now_ns();
  t.go_ns = chip->model().go_time_ns();
  const std::vector<sim::Event>& ev = p.events();
  // Transfer before and after each event, by index into ev (or none).
  auto neighbour = [&](size_t i, int step) -> const sim::Event* {
    for (auto k = static_cast<int64_t>(i) + step; k >= 0 && k < static_cast<int64_t>(ev.size()); k += step) {
      const auto& e = ev[static_cast<size_t>(k)];
      if (e["ev"] == "i2c_read" || e["ev"] == "i2c_write") {
        return &e;
      }
    }
    return nullptr;
  };
  for (size_t i = 0; i < ev.size(); ++i) {
    const sim::Event& e = ev[i];
    if (e["ev"] == "i2c_read") {
      ++t.reads;
    } else if (e["ev"] == "i2c_write") {
      ++t.writes;
    } else if (e["ev"] == "log" && e["text"] == end_line) {
      t.reached_end = true;
    } else if (e["ev"] == "stall") {
      const auto us = e["us"].get<uint64_t>();
      t.stall_us += us;
      const sim::Event* before = neighbour(i, -1);
      const sim::Event* after = neighbour(i, +1);
      if (before != nullptr && after != nullptr && (*before)["ev"] == "i2c_read" && (*after)["ev"] == "i2c_read" &&
          (*before)["reg"] == (*after)["reg"]) {
        t.poll_us += us;
      }
    }
  }
  return t;
}

void bm_bringup(benchmark::State& state, const char* model) {
  for (auto _ : state) {
    auto chip = sim::make_model(model);
    sim::VirtualPlatform p(&chip->model());
    p.set_recording(false);
    benchmark::DoNotOptimize(host::call_entry(p));
  }
}

void bm_platform_setup(benchmark::State& state) {
  for (auto _ : state) {
    auto chip = sim::make_model("zq3101");
    sim::VirtualPlatform p(&chip->model());
    benchmark::DoNotOptimize(p.system_table());
  }
}

void bm_format(benchmark::State& state, const char* fmt, uint64_t arg) {
  char buf[murvane::log_buffer_size];
  const murvane::fmt_arg args[] = {{arg}};
  for (auto _ : state) {
    benchmark::DoNotOptimize(murvane::format_message(buf, sizeof(buf), fmt, args, 1));
    benchmark::ClobberMemory();
  }
}

double to_ns(double value, benchmark::TimeUnit unit) {
  switch (unit) {
    case benchmark::kNanosecond:
      return value;
    case benchmark::kMicrosecond:
      return value * 1e3;
    case benchmark::kMillisecond:
      return value * 1e6;
    case benchmark::kSecond:
      return value * 1e9;
  }
  return value;
}

// The console report as usual, keeping each benchmark's CPU time per iteration.
class Collector : public benchmark::ConsoleReporter {
 public:
  bool ReportContext(const Context& context) override {
    cpus_ = context.cpu_info.num_cpus;
    mhz_ = context.cpu_info.cycles_per_second / 1e6;
    return ConsoleReporter::ReportContext(context);
  }
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& r : runs) {
      if (r.run_type == Run::RT_Iteration && !r.error_occurred) {
        cpu_ns_[r.benchmark_name()] = to_ns(r.GetAdjustedCPUTime(), r.time_unit);
      }
    }
  }
  double cpu_ns(const std::string& name) const {
    const auto it = cpu_ns_.find(name);
    return it != cpu_ns_.end() ? it->second : 0.0;
  }
  int cpus() const { return cpus_; }
  double mhz() const { return mhz_; }

 private:
  std::map<std::string, double> cpu_ns_;
  int cpus_ = 0;
  double mhz_ = 0;
};

std::string ms(uint64_t ns) {
  char buf[32];
  std::snprintf(buf, sizeof(buf), "%.3f ms", static_cast<double>(ns) / 1e6);
  return buf;
}

// The modeled figures: deterministic (the virtual clock, not the host), so
// docs/performance.md keeps them exactly and the docs_figures test compares.
void print_modeled() {
  std::printf(
      "| Family | Model | Modeled bring-up | GO at | Floor | Modeled / floor | Reads | Writes | Bus time (transfers) "
      "| Mandated waits | Poll waits |\n|---|---|---|---|---|---|---|---|---|---|---|\n");
  for (const FamilyModel& f : family_models) {
    const Traffic t = measure(f.model);
    std::printf("| %s | %s | %s%s | %s | %s | %.3f | %llu | %llu | %s | %s | %s |\n", f.family, f.model,
                ms(t.modeled_ns).c_str(), t.reached_end ? "" : " (stopped early)",
                t.go_ns != 0 ? ms(t.go_ns).c_str() : "no GO", ms(t.floor_ns()).c_str(),
                static_cast<double>(t.modeled_ns) / static_cast<double>(t.floor_ns()),
                static_cast<unsigned long long>(t.reads), static_cast<unsigned long long>(t.writes),
                ms(t.transfer_ns()).c_str(), ms(t.mandated_us() * 1000).c_str(), ms(t.poll_us * 1000).c_str());
  }
}

// Transfers of one healthy call on a fresh chip and platform, counted as
// tests/driver/test_fault_sweep.cpp counts them: for every call but the entry the
// entry runs first, and only the call's own transfers count.
uint64_t healthy_transfers(const char* model, const std::string& call) {
  sim::reset_driver_state();
  auto chip = sim::make_model(model);
  sim::VirtualPlatform p(&chip->model());
  p.set_recording(false);
  if (call != "entry") {
    host::call_entry(p);
  }
  const uint64_t before = p.transfers();
  if (call == "entry") {
    host::call_entry(p);
  } else if (call == "start") {
    host::call_start(p);
  } else {
    host::call_slot(p, call, {});
  }
  return p.transfers() - before;
}

// 16648 as "16,648", as the page writes counts.
std::string thousands(uint64_t n) {
  const std::string digits = std::to_string(n);
  std::string out;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) {
      out += ',';
    }
    out += digits[i];
  }
  return out;
}

// The fault sweep's runs per model and call (one healthy run and two per
// transfer of it), the table of docs/reliability.md. Fails when two models of
// a family differ, since the table has one row per family.
int print_sweep_table() {
  const char* calls[] = {"entry", "start", "get_f0", "offset_calibration"};
  std::printf(
      "| family | entry | Start | get_f0 | offset_calibration | per model | models | runs |\n"
      "|---|---|---|---|---|---|---|---|\n");
  uint64_t all_runs = 0;
  size_t all_models = 0;
  for (const FamilyModel& f : family_models) {
    uint64_t runs[4] = {};
    size_t models = 0;
    for (const sim::model_info& m : sim::model_infos) {
      if (std::strcmp(m.family_name, f.family) != 0) {
        continue;
      }
      for (size_t c = 0; c < 4; ++c) {
        const uint64_t r = 1 + 2 * healthy_transfers(m.name, calls[c]);
        if (models > 0 && r != runs[c]) {
          std::fprintf(stderr, "%s %s: %llu runs, but %llu on the family's first model\n", m.name, calls[c],
                       static_cast<unsigned long long>(r), static_cast<unsigned long long>(runs[c]));
          return 1;
        }
        runs[c] = r;
      }
      ++models;
    }
    const uint64_t per_model = runs[0] + runs[1] + runs[2] + runs[3];
    std::printf("| %s | %s | %s | %s | %s | %s | %zu | %s |\n", f.family, thousands(runs[0]).c_str(),
                thousands(runs[1]).c_str(), thousands(runs[2]).c_str(), thousands(runs[3]).c_str(),
                thousands(per_model).c_str(), models, thousands(per_model * models).c_str());
    all_runs += per_model * models;
    all_models += models;
  }
  std::printf("| all | | | | | | %zu | **%s** |\n", all_models, thousands(all_runs).c_str());
  return 0;
}

// The host's figures: they vary with the machine and its load.
void print_markdown(const Collector& c) {
  std::printf("Host: %d CPUs at %.0f MHz; compiler %s; build type %s.\n\n", c.cpus(), c.mhz(), __VERSION__,
              MURVANE_BUILD_TYPE);
  std::printf("| Family | CPU per bring-up | Modeled bring-up / CPU |\n|---|---|---|\n");
  for (const FamilyModel& f : family_models) {
    const double cpu = c.cpu_ns(std::string("bringup/") + f.family);
    const Traffic t = measure(f.model);
    std::printf("| %s | %.1f us | %.0fx |\n", f.family, cpu / 1e3,
                cpu > 0 ? static_cast<double>(t.modeled_ns) / cpu : 0.0);
  }
  std::printf("\nPlatform set-up included in each bring-up above: %.1f us.\n", c.cpu_ns("platform_setup") / 1e3);
  std::printf("Formatting one log line: %.0f ns (\"%%02X\" message), %.0f ns (\"%%r\" message).\n",
              c.cpu_ns("format_message/hex"), c.cpu_ns("format_message/status"));
}

}  // namespace

int main(int argc, char** argv) {
  bool markdown = false;
  int kept = 1;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--markdown") == 0) {
      markdown = true;
    } else if (std::strcmp(argv[i], "--modeled") == 0) {
      print_modeled();
      return 0;
    } else if (std::strcmp(argv[i], "--sweep-table") == 0) {
      return print_sweep_table();
    } else {
      argv[kept++] = argv[i];
    }
  }
  argc = kept;

  for (const FamilyModel& f : family_models) {
    benchmark::RegisterBenchmark((std::string("bringup/") + f.family).c_str(), bm_bringup, f.model)
        ->Unit(benchmark::kMicrosecond);
  }
  benchmark::RegisterBenchmark("platform_setup", bm_platform_setup)->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark("format_message/hex", bm_format, "Murvane: unsupport device revision (0x%02X)\n",
                               uint64_t{0x84});
  benchmark::RegisterBenchmark("format_message/status", bm_format,
                               "Murvane: Install EFI_ZELT_I2C_HAPTIC_PROTOCOL - %r\n", uint64_t{0});

  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
    return 1;
  }
  Collector collector;
  if (markdown) {
    collector.SetOutputStream(&std::cerr);
  }
  benchmark::RunSpecifiedBenchmarks(&collector);
  benchmark::Shutdown();
  if (markdown) {
    print_markdown(collector);
  }
  return 0;
}
