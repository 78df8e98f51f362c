#include "ChaosTriggers.h"

#include <algorithm>
#include <charconv>

#include "Latin1Text.h"

namespace {

struct StepNames {
    ChaosStep step;
    std::string_view name;
    std::string_view word;
    int defaultCode;
};

constexpr std::array<StepNames, 4> Names{{
    {ChaosStep::Sender, "Sender", "sender", 451},
    {ChaosStep::Recipient, "Recipient", "recipient", 451},
    {ChaosStep::Data, "Data", "data", 451},
    {ChaosStep::Authentication, "Authentication", "authentication", 535},
}};

// Other spellings the command line takes, as Mailpit's does.
constexpr std::array<std::pair<std::string_view, ChaosStep>, 2> Aliases{{
    {"recipients", ChaosStep::Recipient},
    {"auth", ChaosStep::Authentication},
}};

constexpr const char* BadItemText = "--chaos-triggers takes STEP:CODE:PERCENT items separated by commas, not: ";
constexpr const char* UnknownStepText
    = "--chaos-triggers knows the steps sender, recipient, data and authentication, not: ";
constexpr const char* BadCodeText = "error code must be between 400 and 599: ";
constexpr const char* BadProbabilityText = "probability must be between 0 and 100: ";

// A whole number written in digits only; -1 otherwise.
int wholeNumber(std::string_view text)
{
    int value = 0;
    const auto [end, status] = std::from_chars(text.data(), text.data() + text.size(), value);
    return text.empty() || status != std::errc() || end != text.data() + text.size() ? -1 : value;
}

} // namespace

ChaosTriggers::ChaosTriggers() : m_random(std::random_device{}())
{
    reset();
}

std::string_view ChaosTriggers::stepName(ChaosStep step)
{
    return Names[index(step)].name;
}

std::string_view ChaosTriggers::stepWord(ChaosStep step)
{
    return Names[index(step)].word;
}

int ChaosTriggers::defaultCode(ChaosStep step)
{
    return Names[index(step)].defaultCode;
}

std::optional<ChaosStep> ChaosTriggers::stepNamed(std::string_view name)
{
    for (const StepNames& entry : Names)
        if (equalNoCase(entry.name, name))
            return entry.step;
    for (const auto& [alias, step] : Aliases)
        if (equalNoCase(alias, name))
            return step;
    return std::nullopt;
}

void ChaosTriggers::set(ChaosStep step, ChaosTrigger trigger)
{
    trigger.errorCode = std::clamp(trigger.errorCode, MinCode, MaxCode);
    trigger.probability = std::clamp(trigger.probability, 0, MaxProbability);
    m_triggers[index(step)] = trigger;
}

void ChaosTriggers::reset()
{
    for (ChaosStep step : Steps)
        m_triggers[index(step)] = {defaultCode(step), 0};
}

int ChaosTriggers::fire(ChaosStep step)
{
    const ChaosTrigger& trigger = m_triggers[index(step)];
    if (!m_enabled || trigger.probability <= 0)
        return 0;
    if (trigger.probability >= MaxProbability)
        return trigger.errorCode;
    std::uniform_int_distribution<int> percent(0, MaxProbability - 1);
    return percent(m_random) < trigger.probability ? trigger.errorCode : 0;
}

bool ChaosTriggers::configure(std::string_view triggers, std::string& error)
{
    ChaosTriggers parsed;
    while (!triggers.empty()) {
        const std::size_t comma = triggers.find(',');
        const std::string_view item = trimBlanks(triggers.substr(0, comma));
        triggers = comma == std::string_view::npos ? std::string_view() : triggers.substr(comma + 1);
        const std::size_t first = item.find(':');
        const std::size_t second = first == std::string_view::npos ? first : item.find(':', first + 1);
        if (second == std::string_view::npos) {
            error = BadItemText + std::string(item);
            return false;
        }
        const std::optional<ChaosStep> step = stepNamed(item.substr(0, first));
        const std::string_view codeText = item.substr(first + 1, second - first - 1);
        const int code = codeText.size() == 3 ? wholeNumber(codeText) : -1;
        const int probability = wholeNumber(item.substr(second + 1));
        if (!step) {
            error = UnknownStepText + std::string(item.substr(0, first));
            return false;
        }
        if (!validCode(code)) {
            error = BadCodeText + std::string(item);
            return false;
        }
        if (!validProbability(probability)) {
            error = BadProbabilityText + std::string(item);
            return false;
        }
        parsed.set(*step, {code, probability});
    }
    m_triggers = parsed.m_triggers;
    return true;
}
