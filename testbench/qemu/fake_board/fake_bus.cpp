#include "testbench/qemu/fake_board/fake_bus.h"

#include "host/bus_timing.h"
#include "testbench/qemu/text.h"

namespace fakeboard {

bool parse_quirks(const char* text, size_t len, quirks* out, const char** bad_word) {
  quirks q = {};
  size_t i = 0;
  const char* w = nullptr;
  size_t n = 0;
  while (fwsim::next_word(text, len, &i, &w, &n)) {
    if (fwsim::word_is(w, n, "status-only")) {
      q.status_only = true;
    } else if (fwsim::word_is(w, n, "nack-no-response")) {
      q.nack_no_response = true;
    } else if (fwsim::word_is(w, n, "round-down")) {
      q.round_down = true;
    } else if (fwsim::word_is(w, n, "nack-success")) {
      q.nack_success = true;
    } else {
      if (bad_word != nullptr) {
        *bad_word = w;
      }
      return false;
    }
  }
  *out = q;
  return true;
}

UINTN settable_rate(const quirks& q, UINTN asked) {
  constexpr UINTN max_hz = 1000000;
  if (!q.round_down) {
    return asked < max_hz ? asked : max_hz;
  }
  constexpr UINTN rates[] = {1000000, 375000, 100000};
  for (const UINTN r : rates) {
    if (r <= asked) {
      return r;
    }
  }
  return 0;
}

EFI_STATUS fake_bus::refuse(const char* what, EFI_STATUS s) {
  ++counters_->BadRequests;
  if (report_ != nullptr) {
    report_(what);
  }
  return s;
}

EFI_STATUS fake_bus::reset() {
  if (busy_) {
    return refuse("Reset during a transaction", EFI_NOT_READY);
  }
  // A reset controller has forgotten its clock.
  rate_hz_ = 0;
  return EFI_SUCCESS;
}

EFI_STATUS fake_bus::set_bus_frequency(UINTN* hz) {
  if (hz == nullptr) {
    return refuse("SetBusFrequency without a rate", EFI_INVALID_PARAMETER);
  }
  if (busy_) {
    return refuse("SetBusFrequency during a transaction", EFI_NOT_READY);
  }
  const UINTN rate = settable_rate(quirks_, *hz);
  if (rate == 0) {
    return EFI_UNSUPPORTED;
  }
  ++counters_->Opens;
  rate_hz_ = rate;
  *hz = rate;
  return EFI_SUCCESS;
}

// No acknowledge: how this master tells it, or hides it.
EFI_STATUS fake_bus::nack(EFI_STATUS* i2c_status) {
  ++counters_->FailedTransfers;
  if (quirks_.nack_success) {
    if (i2c_status != nullptr) {
      *i2c_status = EFI_SUCCESS;
    }
    return EFI_SUCCESS;
  }
  const EFI_STATUS failure = quirks_.nack_no_response ? pi::EFI_NO_RESPONSE : EFI_DEVICE_ERROR;
  if (i2c_status != nullptr) {
    *i2c_status = failure;
  }
  return quirks_.status_only ? EFI_SUCCESS : failure;
}

EFI_STATUS fake_bus::request(UINTN address, const pi::EFI_I2C_REQUEST_PACKET* packet, EFI_EVENT event,
                             EFI_STATUS* i2c_status, EFI_TPL tpl) {
  if (busy_) {
    return refuse("a request while another transaction is in progress", EFI_NOT_READY);
  }
  if (event != nullptr) {
    return refuse("an asynchronous request (the driver waits for each transfer)", EFI_INVALID_PARAMETER);
  }
  if (tpl > pi::TPL_CALLBACK) {
    return refuse("a synchronous request above TPL_CALLBACK", EFI_INVALID_PARAMETER);
  }
  if ((address & ~static_cast<UINTN>(0x7F)) != 0) {
    return refuse("a slave address with bits above the 7-bit address", EFI_INVALID_PARAMETER);
  }
  if (rate_hz_ == 0) {
    return refuse("a request before SetBusFrequency (after Reset)", EFI_NOT_READY);
  }
  if (packet == nullptr) {
    return refuse("a request without a packet", EFI_INVALID_PARAMETER);
  }
  const auto* ops = packet->Operation;
  const bool write_shape =
      packet->OperationCount == 1 && ops[0].Flags == 0 && ops[0].LengthInBytes == 2 && ops[0].Buffer != nullptr;
  const bool read_shape = packet->OperationCount == 2 && ops[0].Flags == 0 && ops[0].LengthInBytes == 1 &&
                          ops[0].Buffer != nullptr && ops[1].Flags == pi::I2C_FLAG_READ && ops[1].LengthInBytes == 1 &&
                          ops[1].Buffer != nullptr;
  if (!write_shape && !read_shape) {
    return refuse("a packet that is neither {write register} + {read 1 byte} nor one {write register, value}",
                  EFI_UNSUPPORTED);
  }
  busy_ = true;
  // The transfer holds the bus for as long as the rate the controller set,
  // by the same formula as every simulated platform.
  counters_->BusTimeNs += host::transfer_ns(write_shape, static_cast<uint32_t>(rate_hz_ / 1000));
  if (write_shape) {
    ++counters_->Writes;
  } else {
    ++counters_->Reads;
  }
  EFI_STATUS s = EFI_SUCCESS;
  if (chip_ == nullptr || address != address_ || in_reset_) {
    s = nack(i2c_status);
  } else {
    chip_->set_time(counters_->StallUs * 1000 + counters_->BusTimeNs);
    if (write_shape) {
      chip_->write(ops[0].Buffer[0], ops[0].Buffer[1]);
    } else {
      ops[1].Buffer[0] = chip_->read(ops[0].Buffer[0]);
    }
    if (i2c_status != nullptr) {
      *i2c_status = EFI_SUCCESS;
    }
  }
  busy_ = false;
  return s;
}

}  // namespace fakeboard
