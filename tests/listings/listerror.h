// The message of the list error an operation raises, so tests compare whole texts.
#pragma once

#include <functional>
#include <string>

#include "listings/linklists.h"

// "" when f raises no list error.
inline std::string ErrorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const EListError& e) {
        return e.what();
    }
    return "";
}
