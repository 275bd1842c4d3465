#pragma once

// What the start-up services need from the system.
namespace moduleplatform {

bool isElevated();
[[noreturn]] void terminateSelf();

} // namespace moduleplatform
