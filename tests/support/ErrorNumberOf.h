#pragma once

#include "AppError.h"

// The number the error report would show for what the call throws; 0 when it returns.
template <class Call> int errorNumberOf(Call&& call)
{
    try {
        call();
    } catch (...) {
        return AppError::fromCurrentException().number();
    }
    return 0;
}
