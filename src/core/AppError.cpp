#include "AppError.h"

#include <new>
#include <stdexcept>
#include <utility>

namespace {
constexpr const char* OverflowText = "Overflow";
constexpr const char* OutOfMemoryText = "Out of memory";
constexpr const char* SubscriptText = "Subscript out of range";
constexpr const char* UnexpectedText = "Unexpected failure";
} // namespace

AppError::AppError(int number, std::string description) : m_number(number), m_description(std::move(description))
{
}

AppError AppError::fromCurrentException()
{
    try {
        throw;
    } catch (const AppError& e) {
        return e;
    } catch (const std::bad_alloc&) {
        return AppError(ErrorNumber::OutOfMemory, OutOfMemoryText);
    } catch (const std::out_of_range&) {
        return subscriptOutOfRangeError();
    } catch (const std::overflow_error&) {
        return overflowError();
    } catch (const std::exception& e) {
        return AppError(ErrorNumber::Unexpected, e.what());
    } catch (...) {
        return AppError(ErrorNumber::Unexpected, UnexpectedText);
    }
}

AppError overflowError()
{
    return AppError(ErrorNumber::Overflow, OverflowText);
}

AppError subscriptOutOfRangeError()
{
    return AppError(ErrorNumber::SubscriptOutOfRange, SubscriptText);
}
