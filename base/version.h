#pragma once

// The program's version text, shown in the window caption and compared by the update check.
inline constexpr char kVersionText[] = "3.0";
