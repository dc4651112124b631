#pragma once
// What the bridge knows of the modules on the line, and how it moves a lamp to a brightness.
// Plain data and arithmetic: no I/O.
//
// What a caller may rely on:
// - Addresses are a house letter A..P and a unit 1..16 ("A1", "p16", "B07"), or a house alone
//   (unit 0, "A") for the functions that act on a whole house. Text is always "A1" / "A".
// - A module's state is what the line last told: on/off and, for a lamp, its level in the
//   interface's 22 dim steps; either may be unknown. On brings a lamp to full (22 steps); Dim and
//   Bright move a lamp that is on by their steps within 0..22, and bring a lamp that is off on at
//   full first; appliance modules ignore Dim, Bright and the All Lights functions.
// - A plan moves a lamp to a brightness with the fewest transmissions the estimate allows: from
//   a known level, one Dim or Bright by the difference; from an off lamp, On and a Dim down; from
//   an unknown state, On, Bright to full and a Dim down. Each Dim or Bright step of a plan is one
//   that the control's dim table sends exactly (at most 19 steps, its percentage dimValueFor()).

#include <QString>
#include <QStringView>

#include <optional>
#include <vector>

namespace quenvar::mqtt {

inline constexpr int fullSteps = 22;
// Home Assistant's default brightness scale.
inline constexpr int brightnessScale = 255;
// The most steps one Dim or Bright of the control can carry (its percentage 90).
inline constexpr int largestStepsPerCommand = 19;

struct Address {
    char house = 'A';
    int unit = 0;  // 0: the whole house
    static std::optional<Address> parse(QStringView text);
    QString text() const;
    bool operator==(const Address&) const = default;
    auto operator<=>(const Address&) const = default;
};

enum class ModuleKind { Lamp, Appliance };

enum class Function { On, Off, Dim, Bright, AllUnitsOff, AllLightsOn, AllLightsOff };

// The control's name of a function heard ("On", "All Lights On", ...); nullopt for the others
// (hail, status, extended codes), which change no module.
std::optional<Function> functionFromHeard(QStringView name);
// "on", "all_lights_on", ...: the names in payloads and events.
QString functionKey(Function function);

struct ModuleState {
    std::optional<bool> on;
    std::optional<int> level;  // steps 0..22, known only while on
    bool operator==(const ModuleState&) const = default;
};

// The state after the module heard or was sent `function` (Dim and Bright with `steps`).
ModuleState applyFunction(ModuleState state, ModuleKind kind, Function function, int steps = 0);

// HA brightness (0..255) and dim steps, rounded to the nearest.
int stepsFromBrightness(int brightness);
int brightnessFromSteps(int steps);
// The change in steps a heard Dim or Bright made, from the control's percentage of full range.
int stepsFromHeardLevel(int percent);

// The control's dim table: the steps its Dim or Bright with percentage `dimValue` (5..95) sends.
int stepsOfDimValue(int dimValue);
// The percentage that makes the control send exactly `steps` (0..19).
int dimValueFor(int steps);

struct PlanStep {
    Function function = Function::On;
    int steps = 0;  // Dim and Bright only: 1..19
    bool operator==(const PlanStep&) const = default;
};

// The transmissions that bring the module from `now` to on/off and, for a lamp, `targetSteps`.
std::vector<PlanStep> planFor(const ModuleState& now, ModuleKind kind, bool on, std::optional<int> targetSteps);

}  // namespace quenvar::mqtt
