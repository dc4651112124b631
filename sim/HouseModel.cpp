#include "sim/HouseModel.h"

#include <algorithm>
#include <cctype>
#include <stdexcept>

namespace x10sim {

std::string ModuleChange::text() const {
    std::string result = std::string(1, house) + std::to_string(unit);
    if (!after.on) return result + " off";
    if (cause == FunctionCode::Dim) return result + " dim " + std::to_string(after.percent()) + "%";
    if (cause == FunctionCode::Bright) return result + " bright " + std::to_string(after.percent()) + "%";
    return result + " on";
}

static int houseIndex(char house) {
    const int upper = std::toupper(static_cast<unsigned char>(house));
    if (upper < 'A' || upper > 'P')
        throw std::out_of_range(std::string("x10sim: house code must be A to P, not '") + house + "'");
    return upper - 'A';
}

ModuleState HouseModel::module(char house, int unit) const {
    const int index = houseIndex(house);
    if (unit < 1 || unit > 16)
        throw std::out_of_range("x10sim: unit code must be 1 to 16, not " + std::to_string(unit));
    return houses_[index].modules[unit - 1];
}

std::vector<int> HouseModel::selection(char house) const {
    const HouseState& state = houses_[houseIndex(house)];
    std::vector<int> units;
    for (int unit = 1; unit <= 16; ++unit) {
        if (state.selected.test(unit - 1)) units.push_back(unit);
    }
    return units;
}

std::vector<ModuleChange> HouseModel::apply(const Frame& frame) {
    frames_.push_back(frame);
    std::vector<ModuleChange> made;
    HouseState& house = houses_[houseIndex(frame.house)];

    if (frame.kind == FrameKind::Address) {
        if (house.functionSinceAddress) {
            house.selected.reset();
            house.functionSinceAddress = false;
        }
        house.selected.set(frame.unit - 1);
        return made;
    }

    house.functionSinceAddress = true;
    if (frame.kind == FrameKind::Extended) return made;

    switch (frame.function) {
        case FunctionCode::AllUnitsOff:
        case FunctionCode::AllLightsOn:
        case FunctionCode::AllLightsOff:
            for (int unit = 1; unit <= 16; ++unit) act(house, frame.house, unit, frame, made);
            break;
        case FunctionCode::On:
        case FunctionCode::Off:
        case FunctionCode::Dim:
        case FunctionCode::Bright:
            for (int unit = 1; unit <= 16; ++unit) {
                if (house.selected.test(unit - 1)) act(house, frame.house, unit, frame, made);
            }
            break;
        default: break;
    }
    changes_.insert(changes_.end(), made.begin(), made.end());
    return made;
}

void HouseModel::act(HouseState& house, char letter, int unit, const Frame& frame, std::vector<ModuleChange>& out) {
    ModuleState& module = house.modules[unit - 1];
    const ModuleState before = module;
    const int steps = std::min(frame.dimSteps, fullBrightnessSteps);
    switch (frame.function) {
        case FunctionCode::On:
        case FunctionCode::AllLightsOn: module = ModuleState{true, fullBrightnessSteps}; break;
        case FunctionCode::Off:
        case FunctionCode::AllUnitsOff:
        case FunctionCode::AllLightsOff: module = ModuleState{}; break;
        case FunctionCode::Dim:
        case FunctionCode::Bright:
            if (!module.on) module = ModuleState{true, fullBrightnessSteps};
            module.level += frame.function == FunctionCode::Dim ? -steps : steps;
            module.level = std::clamp(module.level, 0, fullBrightnessSteps);
            break;
        default: return;
    }
    // A house-wide function reaches all sixteen units: lines for the ones it left as they were
    // would bury the real changes.
    const bool houseWide = frame.function == FunctionCode::AllUnitsOff || frame.function == FunctionCode::AllLightsOn ||
                           frame.function == FunctionCode::AllLightsOff;
    if (houseWide && module == before) return;
    out.push_back(ModuleChange{letter, unit, frame.function, before, module});
}

}  // namespace x10sim
