#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <string_view>

// The dialogue steps a failure reply can be asked for at.
enum class ChaosStep { Sender, Recipient, Data, Authentication };

// One step's failure reply: the code it answers with and how often, in percent.
struct ChaosTrigger {
    int errorCode = 0;
    int probability = 0;
    bool operator==(const ChaosTrigger&) const = default;
};

// Failure replies on demand, so that an application's handling of a refused sender, recipient,
// message or login can be tested. Off unless switched on; then each step fires with its own
// probability. Plain data without Qt: the engine, the API and the window all read it.
class ChaosTriggers {
public:
    static constexpr std::array<ChaosStep, 4> Steps{ChaosStep::Sender, ChaosStep::Recipient, ChaosStep::Data,
                                                    ChaosStep::Authentication};
    static constexpr int MinCode = 400;
    static constexpr int MaxCode = 599;
    static constexpr int MaxProbability = 100;

    ChaosTriggers();

    // The step's name as the API's JSON and the command line write it ("Sender"...).
    static std::string_view stepName(ChaosStep step);
    // The word of the step in a reply ("sender"...).
    static std::string_view stepWord(ChaosStep step);
    // The code a step answers with when none is given: temporary, but 535 for a login.
    static int defaultCode(ChaosStep step);
    static bool validCode(int code) { return code >= MinCode && code <= MaxCode; }
    static bool validProbability(int probability) { return probability >= 0 && probability <= MaxProbability; }
    // The step a name stands for, in any letter case ("recipients" and "auth" too).
    static std::optional<ChaosStep> stepNamed(std::string_view name);

    bool enabled() const { return m_enabled; }
    void setEnabled(bool on) { m_enabled = on; }
    ChaosTrigger trigger(ChaosStep step) const { return m_triggers[index(step)]; }
    // Values out of range are the caller's to refuse; they are clamped here.
    void set(ChaosStep step, ChaosTrigger trigger);
    // Every step back to its default code and probability 0.
    void reset();
    // Draws from a sequence that repeats for the same seed; unseeded, from the system's entropy.
    void seed(std::uint64_t value) { m_random.seed(value); }

    // The code to refuse this step with now, or 0 to go on. Probabilities 0 and 100 draw
    // nothing, so they do not move a seeded sequence.
    int fire(ChaosStep step);

    // Takes "sender:451:50,recipient:550:100" (Mailpit's form, with "data" too): the steps
    // named are set, the others reset. False with the reason when an item is malformed.
    bool configure(std::string_view triggers, std::string& error);

private:
    static std::size_t index(ChaosStep step) { return std::size_t(step); }

    bool m_enabled = false;
    std::array<ChaosTrigger, Steps.size()> m_triggers;
    std::mt19937_64 m_random;
};
