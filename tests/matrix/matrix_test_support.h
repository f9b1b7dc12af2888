// Helpers shared by the matrix library tests: a recorder for message boxes and a reproducible
// source of random doubles.
#pragma once

#include <bit>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "host/dialogs.h"

namespace tav::test {

// Answers every message box with OK and keeps what it was asked to show; restores the previous
// hook when it goes out of scope.
class TMessageRecorder {
  public:
    struct TBox {
        std::string text;
        TMsgDlgType type;
        TMsgDlgButtons buttons;
    };

    TMessageRecorder() {
        previous_ = SetMessageDlgHook(
            [this](const std::string& msg, TMsgDlgType type, TMsgDlgButtons buttons) {
                boxes.push_back({msg, type, buttons});
                return static_cast<uint16_t>(mrOk);
            });
    }
    ~TMessageRecorder() { SetMessageDlgHook(previous_); }
    TMessageRecorder(const TMessageRecorder&) = delete;
    TMessageRecorder& operator=(const TMessageRecorder&) = delete;

    std::vector<TBox> boxes;

  private:
    TMessageDlgHook previous_;
};

// Uniform doubles from mt19937's raw output, which, unlike the standard distributions, is the
// same with every standard library.
class TRandom {
  public:
    explicit TRandom(uint32_t seed) : gen_(seed) {}
    double Uniform(double lo, double hi) {
        const double unit = static_cast<double>(gen_() >> 5) / static_cast<double>(1u << 27);
        return lo + (hi - lo) * unit;
    }

  private:
    std::mt19937 gen_;
};

inline uint64_t Bits(double x) { return std::bit_cast<uint64_t>(x); }

}  // namespace tav::test
