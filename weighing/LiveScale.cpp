#include "weighing/LiveScale.h"

#include "weighing/protocols/ScaleWeight.h"

namespace tarvex {

CLiveScale::CLiveScale(std::unique_ptr<IScaleProtocol> protocol, TakeMode mode, int64_t settleMs)
    : m_protocol(std::move(protocol)), m_rule(mode, settleMs) {}

KeyOutcome TroubleOf(const ScaleStatus& status, double kilograms) {
    if (status.motion) return KeyOutcome::InMotion;
    if (status.over) return KeyOutcome::OverCapacity;
    if (status.under || kilograms < 0) return KeyOutcome::UnderZero;
    return KeyOutcome::NoWeight;
}

LiveNews CLiveScale::Feed(const uint8_t* bytes, int count, int64_t now) {
    m_answers.clear();
    m_protocol->Feed(std::string_view(reinterpret_cast<const char*>(bytes), static_cast<size_t>(count)), m_answers);
    LiveNews news;
    for (const ScaleAnswer& answer : m_answers) Take(answer, now, news);
    return news;
}

LiveNews CLiveScale::Flush(int64_t now) {
    m_answers.clear();
    m_protocol->Flush(m_answers);
    LiveNews news;
    for (const ScaleAnswer& answer : m_answers) Take(answer, now, news);
    return news;
}

void CLiveScale::Take(const ScaleAnswer& answer, int64_t now, LiveNews& news) {
    using Kind = ScaleAnswer::Kind;
    if (answer.kind != Kind::Unreadable) news.confirmed = true;
    switch (answer.kind) {
        case Kind::Weight: {
            const std::optional<double> kilograms = KilogramsOf(answer.digits, answer.unit);
            if (!kilograms) {  // a unit with no known factor is no weight to keep
                m_rule.NoWeight(now);
                break;
            }
            const LiveWeight weight{answer.digits, answer.unit, *kilograms, answer.status};
            ShowLive(weight, news);
            JudgeCommand(weight, news);
            if (std::optional<LiveWeight> taken = m_rule.Offer(weight, now)) news.taken.push_back(std::move(*taken));
            break;
        }
        case Kind::Status: {
            LiveWeight state;
            state.status = answer.status;
            ShowLive(state, news);
            JudgeCommand(state, news);
            // A state that is no trouble (the scale busy) is only no weight.
            if (TroubleOf(answer.status, 0) == KeyOutcome::NoWeight && !answer.status.atZero)
                m_rule.NoWeight(now);
            else
                m_rule.Offer(state, now);
            break;
        }
        case Kind::Done:
            if (m_pending) EndCommand(true, KeyOutcome::NoWeight, news);
            break;
        case Kind::NotDone:
            // Why is told by the next weight: the refusal may come before
            // any weight shows the motion that caused it.
            if (m_pending) m_refused = true;
            break;
        case Kind::Identity:
        case Kind::Unknown:
        case Kind::Unreadable:
            break;
    }
}

void CLiveScale::ShowLive(std::optional<LiveWeight> live, LiveNews& news) {
    const bool same = m_live.has_value() == live.has_value() &&
                      (!live || (m_live->digits == live->digits && m_live->unit == live->unit &&
                                 m_live->status == live->status));
    m_live = std::move(live);
    if (!same) news.liveChanged = true;
}

void CLiveScale::JudgeCommand(const LiveWeight& weight, LiveNews& news) {
    if (!m_pending) return;
    if (m_refused) {
        EndCommand(false, TroubleOf(weight.status, weight.kilograms), news);
        return;
    }
    if (++m_weightsSincePending < WEIGHTS_BEFORE_JUDGING) return;
    const bool atZero = weight.status.atZero || (!weight.digits.empty() && weight.kilograms == 0);
    const bool settled = !weight.status.motion && !weight.status.over && !weight.status.under && !weight.status.fault;
    if (atZero && settled)
        EndCommand(true, KeyOutcome::NoWeight, news);
    else
        EndCommand(false, TroubleOf(weight.status, weight.kilograms), news);
}

void CLiveScale::EndCommand(bool done, KeyOutcome why, LiveNews& news) {
    news.outcome = CommandOutcome{*m_pending, done, why};
    m_pending.reset();
    m_refused = false;
}

std::string CLiveScale::Send(ScaleCommand command, int64_t now) {
    std::string bytes = m_protocol->Command(command);
    if (bytes.empty() || command == ScaleCommand::Poll || command == ScaleCommand::Confirm) return bytes;
    m_pending = command;
    m_refused = false;
    m_pendingSince = now;
    m_weightsSincePending = 0;
    return bytes;
}

LiveNews CLiveScale::Weigh(int64_t now) {
    LiveNews news;
    if (std::optional<LiveWeight> taken = m_rule.Ask(now)) news.taken.push_back(std::move(*taken));
    return news;
}

LiveNews CLiveScale::Tick(int64_t now) {
    LiveNews news;
    news.weighFailed = m_rule.AskExpired(now);
    if (std::optional<LiveWeight> taken = m_rule.Tick(now)) news.taken.push_back(std::move(*taken));
    if (m_pending && now - m_pendingSince >= COMMAND_WAIT_MS) EndCommand(false, KeyOutcome::NoWeight, news);
    return news;
}

void CLiveScale::Reset() {
    m_live.reset();
    m_pending.reset();
    m_refused = false;
    m_rule.NoWeight(0);
}

}  // namespace tarvex
