#pragma once
// What the interface heard on the power line, decoded from its upload. Plain C++, no I/O.
//
// An upload is the bytes after its size byte: a mask, then the data bytes. Bit i of the mask
// (bit 0 for the first data byte) is set when data byte i is a function (house nibble and
// function code), clear when it is an address (house nibble and unit nibble). After a Dim or
// Bright function comes one byte more, the level change in 210ths of the full range; after an
// Extended Code function two more, its data and command. Those bytes are not in the mask's sense
// addresses or functions: the decoder skips their bits.
//
// Addresses select units per house, as the modules see them: several addresses of one house
// before a function all belong to it; the first address after a function starts a new
// selection; a selection stays in force for further functions of that house (Dim, Dim). The
// selections are kept in a HouseSelections the caller holds, so a command whose address and
// function arrive in two uploads is still told whole.

#include <array>
#include <bitset>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace quenvar::control {

// One function heard, as the event x10received tells it.
struct HeardFunction {
    std::string house;       // "A" to "P"
    std::string units;       // the selected units of that house, two digits each, ascending: "01,03";
                             // empty for the functions that act on a whole house
    std::string command;     // "On", "Off", "Dim", "Bright", "All Units Off", "All Lights On", ...
    std::int16_t level = 0;  // Dim and Bright: the change in percent of the full range; else 0

    friend bool operator==(const HeardFunction&, const HeardFunction&) = default;
};

// The units each house has selected, and whether a function came since (the next address then
// starts afresh). Indexed by the four-bit house code; bit n stands for the unit whose code is n.
struct HouseSelections {
    std::array<std::bitset<16>, 16> units{};
    std::array<bool, 16> functionSinceAddress{};
};

// The functions in the upload, in the order heard. Bytes missing at the end (a Dim without its
// level) give what can be told: the Dim with level 0. Every byte sequence decodes.
std::vector<HeardFunction> decodeUpload(std::span<const std::uint8_t> maskAndData, HouseSelections& selections);

// The name of a four-bit function code: "All Units Off", "All Lights On", "On", "Off", "Dim",
// "Bright", "All Lights Off", "Extended Code", "Hail Request", "Hail Ack", "Preset Dim" (both
// codes), "Extended Data", "Status On", "Status Off", "Status Request".
std::string functionName(std::uint8_t functionCode);

}  // namespace quenvar::control
