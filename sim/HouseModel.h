#pragma once
// The modules on the power line, A1..P16, and what the frames going out do to them. Plain C++.
//
// Every module is a dimmable lamp module. Its behaviour:
// - On: on at full brightness (22 of 22 steps). Off: off.
// - Dim / Bright by n steps: a module that is off first comes on at full brightness, then its
//   level moves by n steps of 22, kept within 0..22; it stays on even at level 0.
// - All Units Off, All Lights On, All Lights Off: every unit of the frame's house.
// - Other functions (hail, status, preset dim, extended) change nothing.
//
// Addressing, per house code: addresses collect a selection of units; a function applies to
// the selection of its own house; the next address after a function starts a new selection.
// A selection stays in force for further functions until then (so Dim, Dim dims twice).
//
// A ModuleChange is recorded for every module an addressed function (On, Off, Dim, Bright)
// reaches, also when its state stays the same, so that a repeated command is still visible; the
// house-wide functions record only the modules whose state they really change. Its text is one of
//   "A1 on"  "A1 off"  "A1 dim 50%"  "A1 bright 77%"
// (on/off for On, Off and the All-* functions; dim/bright with the level afterwards in percent
// of full brightness, rounded to the nearest whole percent).

#include <array>
#include <bitset>
#include <string>
#include <vector>

#include "sim/Frame.h"

namespace x10sim {

struct ModuleState {
    bool on = false;
    int level = 0;  // brightness in steps 0..22 while on; 0 while off

    int percent() const { return (level * 100 + fullBrightnessSteps / 2) / fullBrightnessSteps; }
    bool operator==(const ModuleState&) const = default;
};

struct ModuleChange {
    char house = 'A';
    int unit = 1;
    FunctionCode cause = FunctionCode::On;
    ModuleState before;
    ModuleState after;

    std::string text() const;
    bool operator==(const ModuleChange&) const = default;
};

class HouseModel {
public:
    // Applies one frame that went out on the power line; returns the changes it made, which are
    // also appended to changes(). The frame is appended to frames().
    std::vector<ModuleChange> apply(const Frame& frame);

    // house 'A'..'P' (either case), unit 1..16; throws std::out_of_range otherwise.
    ModuleState module(char house, int unit) const;
    // Units currently selected in a house ('A'..'P'), ascending.
    std::vector<int> selection(char house) const;

    const std::vector<Frame>& frames() const { return frames_; }
    const std::vector<ModuleChange>& changes() const { return changes_; }

private:
    struct HouseState {
        std::array<ModuleState, 16> modules{};
        std::bitset<16> selected;
        bool functionSinceAddress = false;
    };

    void act(HouseState& house, char letter, int unit, const Frame& frame, std::vector<ModuleChange>& out);

    std::array<HouseState, 16> houses_{};
    std::vector<Frame> frames_;
    std::vector<ModuleChange> changes_;
};

}  // namespace x10sim
