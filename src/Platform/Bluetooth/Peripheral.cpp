#include "Platform/Bluetooth/Peripheral.hpp"

namespace ombry::bt {

const char* bluetoothStateName(BluetoothState state) {
    switch (state) {
    case BluetoothState::unknown: return "unknown";
    case BluetoothState::resetting: return "resetting";
    case BluetoothState::unsupported: return "unsupported";
    case BluetoothState::unauthorized: return "unauthorized";
    case BluetoothState::poweredOff: return "poweredOff";
    case BluetoothState::poweredOn: return "poweredOn";
    }
    return "unknown";
}

}  // namespace ombry::bt
