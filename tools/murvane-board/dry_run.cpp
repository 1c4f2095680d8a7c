#include "tools/murvane-board/dry_run.h"

#include "murvane/board_settings.h"
#include "sim/model_factory.h"
#include "sim/models/model_table.h"
#include "tools/murvane-board/model_system.h"

namespace murvane_board {

struct DryRun::Parts {
  std::unique_ptr<sim::ModelHandle> model;
  std::unique_ptr<ModelSystem> system;
};

DryRun::DryRun() = default;
DryRun::~DryRun() = default;
DryRun::DryRun(DryRun&&) noexcept = default;
DryRun& DryRun::operator=(DryRun&&) noexcept = default;

DryRun::DryRun(const std::string& chip, const BoardOptions& board) : parts_(std::make_unique<Parts>()) {
  if (chip != "absent") {
    parts_->model = sim::make_model(chip);
  }
  parts_->system =
      std::make_unique<ModelSystem>(parts_->model != nullptr ? &parts_->model->model() : nullptr, board.bus,
                                    board.address, board.gpio_chip, murvane::board::i2c_speed_khz);
  // The simulated board is wired as the options say: an inverted reset
  // line has its inverter.
  parts_->system->board_inverts_reset = board.gpio_active_low;
}

System* DryRun::system() { return parts_ != nullptr ? parts_->system.get() : nullptr; }

const std::vector<std::string>& DryRun::requests() const {
  static const std::vector<std::string> none;
  return parts_ != nullptr ? parts_->system->requests() : none;
}

std::string DryRun::model_family() const {
  return parts_ != nullptr && parts_->model != nullptr ? parts_->model->info().family_name : "";
}

std::string dry_run_chip_range() {
  return std::string(sim::model_infos[0].name) + " ... " + sim::model_infos[sim::model_info_count - 1].name;
}

}  // namespace murvane_board
