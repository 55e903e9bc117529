#pragma once
// The Bluetooth LE peripheral on BlueZ, over D-Bus.
#include <string>

#include "Platform/Bluetooth/Peripheral.hpp"

namespace ombry::bt {

// Peripherals that talk to BlueZ on the bus at `busAddress` (the system bus when empty). With no bus, no
// BlueZ or no adapter the peripheral reports `unsupported` and does nothing else; the adapter's Powered
// property is its state.
//
// The GATT application is published with GattManager1.RegisterApplication (an object manager, one service,
// its characteristics) and advertised with LEAdvertisingManager1.RegisterAdvertisement. Writes arrive
// through WriteValue. Notifications go through AcquireNotify: BlueZ hands over one socket per
// characteristic, shared by every central subscribed to it, and its MTU (a value is at most MTU - 3
// bytes); without it, through StartNotify and PropertiesChanged of Value (at most 20 bytes). BlueZ does
// not say which centrals are behind a link, so a "central" here is one link: counts of subscribers are
// approximate.
PeripheralFactory bluezPeripheralFactory(std::string busAddress = {});

}  // namespace ombry::bt
