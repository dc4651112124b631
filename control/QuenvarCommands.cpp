// The argument checks, the code look-ups and the seven lighting commands.

#include "control/Quenvar.h"
#include "control/X10Codes.h"
#include "platform/automation/CheckedArithmetic.h"
#include "platform/automation/Conversions.h"

namespace quenvar::control {

using automation::charText;

namespace {

// The row whose upper- or lower-case letter is exactly `house`, or none.
const x10::HouseCode* findHouse(const std::string& house) {
    for (const auto& row : x10::houseCodes) {
        if (house == row.lower || house == row.upper) {
            return &row;
        }
    }
    return nullptr;
}

// The row of the unit `unit` names, or none. The unit check accepts any notation of the numbers
// 1 to 16 ("1", " 7", "+3"); such a text names the same module as its two-digit form. Matching
// only the two-digit texts would send every other notation to nibble 0, the module of unit 13.
const x10::UnitCode* findUnit(const std::string& unit) {
    for (const auto& row : x10::unitCodes) {
        if (unit == row.text) {
            return &row;
        }
    }
    try {
        const std::int16_t number = automation::textToInt16(unit);
        if (number >= 1 && number <= 16) {
            return &x10::unitCodes[static_cast<std::size_t>(number - 1)];
        }
    } catch (const automation::RuntimeError&) {
        // no number: no unit
    }
    return nullptr;
}

}  // namespace

std::int16_t Quenvar::gethouse(const std::string& house) {
    const x10::HouseCode* row = findHouse(house);
    return row ? row->nibble : 0;
}

std::int16_t Quenvar::getunit(const std::string& unit) {
    const x10::UnitCode* row = findUnit(unit);
    return row ? row->nibble : 0;
}

void Quenvar::reportCheck(const char* message) { boxes_.showMessage(message, message::errorTitle); }

bool Quenvar::portCheck() {
    if (msComm1_->portOpen()) {
        return true;
    }
    reportCheck(message::portClosed);
    return false;
}

bool Quenvar::houseCheck(const std::string& house) {
    if (findHouse(house)) {
        return true;
    }
    reportCheck(message::badHouse);
    return false;
}

bool Quenvar::unitCheck(const std::string& unit) {
    // A text that is no number raises type mismatch, a number beyond 16 bits overflow: both
    // end the command and reach the caller without a box.
    const std::int16_t number = automation::textToInt16(unit);
    if (number >= 1 && number <= 16) {
        return true;
    }
    reportCheck(message::badUnit);
    return false;
}

bool Quenvar::dimCheck(std::int16_t dimvalue) {
    if (dimvalue >= 5 && dimvalue <= 95) {
        return true;
    }
    reportCheck(message::badDim);
    return false;
}

void Quenvar::sendHouseCommand(const std::string& house, x10::Function function) {
    if (!portCheck() || !houseCheck(house)) {
        return;
    }
    send(x10::Transmission::function(*findHouse(house), function));
}

void Quenvar::sendUnitCommand(const std::string& house, const std::string& unit, x10::Function function,
                              std::int16_t header) {
    const x10::HouseCode& houseRow = *findHouse(house);
    const x10::Transmission address = x10::Transmission::address(houseRow, *findUnit(unit));
    const x10::Transmission functionTransmission = x10::Transmission::function(houseRow, function, header);
    if (holdsTransmissions()) {  // both wait for the upload or the reply, the address first
        queueTransmission(address);
        queueTransmission(functionTransmission);
        holdQueuedTransmissions();
        return;
    }

    // The function transmission is queued before the address goes out, so it is there when the
    // interface's ready byte for the address arrives.
    queueTransmission(functionTransmission);
    const automation::CollectionRef queue = colstring();
    try {
        send(address);
    } catch (...) {
        // The caller hears that the command failed; its function must not go out later, at the
        // ready byte of some other command, and switch what that command addressed.
        queue->remove(queue->count());
        queue->remove(queue->count());
        throw;
    }
}

void Quenvar::lightson(const std::string& house) { sendHouseCommand(house, x10::Function::AllLightsOn); }

void Quenvar::Lightsoff(const std::string& house) { sendHouseCommand(house, x10::Function::AllLightsOff); }

void Quenvar::alloff(const std::string& house) { sendHouseCommand(house, x10::Function::AllUnitsOff); }

void Quenvar::x10on(const std::string& house, const std::string& unit) {
    if (!portCheck() || !houseCheck(house) || !unitCheck(unit)) {
        return;
    }
    sendUnitCommand(house, unit, x10::Function::On);
}

void Quenvar::x10off(const std::string& house, const std::string& unit) {
    if (!portCheck() || !houseCheck(house) || !unitCheck(unit)) {
        return;
    }
    sendUnitCommand(house, unit, x10::Function::Off);
}

void Quenvar::x10dim(const std::string& house, const std::string& unit, std::int16_t dimvalue) {
    if (!portCheck() || !houseCheck(house) || !unitCheck(unit) || !dimCheck(dimvalue)) {
        return;
    }
    sendUnitCommand(house, unit, x10::Function::Dim, x10::dimHeader(dimvalue));
}

void Quenvar::x10brighten(const std::string& house, const std::string& unit, std::int16_t dimvalue) {
    if (!portCheck() || !houseCheck(house) || !unitCheck(unit) || !dimCheck(dimvalue)) {
        return;
    }
    sendUnitCommand(house, unit, x10::Function::Bright, x10::dimHeader(dimvalue));
}

}  // namespace quenvar::control
