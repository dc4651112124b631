#include "mqtt-bridge/ModuleModel.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <utility>

namespace quenvar::mqtt {

namespace {

struct FunctionName {
    Function function;
    const char* heard;
    const char* key;
};

constexpr std::array<FunctionName, 7> functionNames{{
    {Function::On, "On", "on"},
    {Function::Off, "Off", "off"},
    {Function::Dim, "Dim", "dim"},
    {Function::Bright, "Bright", "bright"},
    {Function::AllUnitsOff, "All Units Off", "all_units_off"},
    {Function::AllLightsOn, "All Lights On", "all_lights_on"},
    {Function::AllLightsOff, "All Lights Off", "all_lights_off"},
}};

int roundedRatio(int value, int numerator, int denominator) {
    return static_cast<int>(std::lround(static_cast<double>(value) * numerator / denominator));
}

// Adds Dim or Bright steps to a plan in pieces the control can carry.
void addSteps(std::vector<PlanStep>& plan, Function function, int steps) {
    while (steps > 0) {
        const int piece = std::min(steps, largestStepsPerCommand);
        plan.push_back({function, piece});
        steps -= piece;
    }
}

}  // namespace

std::optional<Address> Address::parse(QStringView text) {
    const QString trimmed = text.trimmed().toString().toUpper();
    if (trimmed.isEmpty()) return std::nullopt;
    const QChar house = trimmed.front();
    if (house < QLatin1Char('A') || house > QLatin1Char('P')) return std::nullopt;
    if (trimmed.size() == 1) return Address{static_cast<char>(house.toLatin1()), 0};
    const QStringView digits = QStringView(trimmed).mid(1);
    if (digits.size() > 2 || !std::all_of(digits.begin(), digits.end(), [](QChar c) { return c.isDigit(); }))
        return std::nullopt;
    const int unit = digits.toInt();
    if (unit < 1 || unit > 16) return std::nullopt;
    return Address{static_cast<char>(house.toLatin1()), unit};
}

QString Address::text() const {
    return unit == 0 ? QString(QLatin1Char(house)) : QStringLiteral("%1%2").arg(QLatin1Char(house)).arg(unit);
}

std::optional<Function> functionFromHeard(QStringView name) {
    for (const FunctionName& entry : functionNames) {
        if (name.compare(QLatin1String(entry.heard), Qt::CaseInsensitive) == 0) return entry.function;
    }
    return std::nullopt;
}

QString functionKey(Function function) {
    for (const FunctionName& entry : functionNames) {
        if (entry.function == function) return QLatin1String(entry.key);
    }
    return {};
}

ModuleState applyFunction(ModuleState state, ModuleKind kind, Function function, int steps) {
    const bool lamp = kind == ModuleKind::Lamp;
    switch (function) {
        case Function::On: return {true, lamp ? std::optional<int>(fullSteps) : std::nullopt};
        case Function::Off:
        case Function::AllUnitsOff: return {false, std::nullopt};
        case Function::AllLightsOn: return lamp ? ModuleState{true, fullSteps} : state;
        case Function::AllLightsOff: return lamp ? ModuleState{false, std::nullopt} : state;
        case Function::Dim:
        case Function::Bright: {
            if (!lamp) return state;
            std::optional<int> from = state.on == false ? std::optional<int>(fullSteps) : state.level;
            if (state.on != true && state.on != false) from.reset();
            if (!from) return {true, std::nullopt};
            const int moved = *from + (function == Function::Dim ? -steps : steps);
            return {true, std::clamp(moved, 0, fullSteps)};
        }
    }
    return state;
}

int stepsFromBrightness(int brightness) {
    return roundedRatio(std::clamp(brightness, 0, brightnessScale), fullSteps, brightnessScale);
}

int brightnessFromSteps(int steps) { return roundedRatio(std::clamp(steps, 0, fullSteps), brightnessScale, fullSteps); }

int stepsFromHeardLevel(int percent) { return std::clamp(roundedRatio(percent, fullSteps, 100), 0, fullSteps); }

int stepsOfDimValue(int dimValue) { return 2 * (dimValue / 10) + (dimValue % 10 == 5 ? 0 : 1); }

int dimValueFor(int steps) {
    const int tens = steps / 2;
    if (steps % 2 == 0) return 10 * tens + 5;
    return tens == 0 ? 6 : 10 * tens;
}

std::vector<PlanStep> planFor(const ModuleState& now, ModuleKind kind, bool on, std::optional<int> targetSteps) {
    if (!on) return {{Function::Off}};
    if (kind == ModuleKind::Appliance || !targetSteps) return {{Function::On}};
    const int target = std::clamp(*targetSteps, 0, fullSteps);
    std::vector<PlanStep> plan;
    int from = fullSteps;
    if (now.on == true && now.level) {
        from = *now.level;
    } else {
        plan.push_back({Function::On});
        // A module that keeps its own level may not come on at full: from an unknown state it is
        // brought there first, so that the Dim below starts from a known level.
        if (now.on != false) addSteps(plan, Function::Bright, fullSteps);
    }
    if (target < from) addSteps(plan, Function::Dim, from - target);
    if (target > from) addSteps(plan, Function::Bright, target - from);
    return plan;
}

}  // namespace quenvar::mqtt
