#include "config/SettingsJob.h"

#include "config/CTqk5820ConfigDoc.h"
#include "config/SensorTypeTracker.h"
#include "config/SensorWords.h"
#include "link/ParameterNumbers.h"
#include "link/Protocol.h"
#include "platform/Clock.h"
#include "config/ReadingsCsv.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <utility>

namespace sf = settingsfile;

namespace {

// Reads of one kind (the type's, or the rest) given up when they take
// longer: each read ends with its answer or the link's time-out, so only a
// unit that keeps others' reads of the same parameter in flight gets here.
constexpr std::int64_t kReadPhaseMs = 60000;
constexpr int kReadAttempts = 5;
constexpr int kRounds = 5;
// How long a unit that stopped answering is waited for. A lost answer to a
// write takes it offline at once, and the probes that find it again go out
// some seconds apart: two of them lost must not end the job.
constexpr std::int64_t kAwayMs = 20000;
constexpr int kTypeAttempts = 3;

bool isCoefficient(const sf::Definition& d)
{
    return d.parameter >= pn::kCoefficientFirst && d.parameter < pn::kCoefficientFirst + pn::kCoefficientCount;
}

} // namespace

SettingsJob::SettingsJob(CTqk5820ConfigDoc& doc, const Clock& clock, sf::Header header)
    : doc_(doc)
    , clock_(clock)
    , header_(std::move(header))
    , started_(clock.utcMillis())
    , deadline_(started_ + kAnswerWaitMs)
    , port_(doc.GetPortIndex())
    , unitNumber_(doc.GetUnitNumber())
{
}

SettingsJob::SettingsJob(CTqk5820ConfigDoc& doc, const Clock& clock, sf::Header header, sf::Settings file,
                         Options options)
    : SettingsJob(doc, clock, std::move(header))
{
    file_ = std::move(file);
    options_ = options;
    applying_ = true;
}

const char* SettingsJob::OutcomeText(Outcome outcome)
{
    switch (outcome) {
    case Outcome::kLanded: return "landed";
    case Outcome::kAsItWas: return "as it was";
    case Outcome::kRefused: return "refused";
    case Outcome::kNotConfirmed: break;
    }
    return "not confirmed";
}

void SettingsJob::Finish(End end)
{
    end_ = end;
    writing_ = false;
}

void SettingsJob::Step()
{
    if (Finished())
        return;
    // Moved to another unit or line: nothing of this job is for that one.
    if (doc_.GetPortIndex() != port_ || doc_.GetUnitNumber() != unitNumber_) {
        Finish(wrote_ ? End::kGone : End::kNoAnswer);
        return;
    }
    const std::int64_t now = clock_.utcMillis();
    switch (phase_) {
    case Phase::kOpen:
        // Online within the usual wait, then the sensor type known within a
        // longer one.
        if (doc_.IsOnline() && awaySince_ < 0) {
            awaySince_ = now;
            deadline_ = now + kTypeWaitMs;
        }
        if (doc_.IsOnline() && doc_.GetSensorType() != SensorTypeTracker::kNoType) {
            StartReading();
        } else if (now >= deadline_) {
            missing_ = {sf::kSensorTypeKey};
            Finish(End::kNoAnswer);
        }
        return;
    case Phase::kReadType:
    case Phase::kReadRest:
        if (Away())
            return;
        if (!StepReads() && now < deadline_)
            return;
        if (phase_ == Phase::kReadRest) {
            ReadDone();
            return;
        }
        {
            const int first = pn::kCoefficientFirst;
            const int type = SensorTypeTracker::ClassifyTexts(texts_[first], texts_[first + 1], texts_[first + 2],
                                                              texts_[first + 3]);
            if (type == SensorTypeTracker::kNoType) {
                missing_ = {sf::kSensorTypeKey};
                Finish(wrote_ ? End::kGone : End::kNoAnswer);
                return;
            }
            unit_.sensorType = type;
            for (const sf::Definition& d : sf::DefinitionsFor(type))
                Want(d.parameter);
            phase_ = Phase::kReadRest;
        }
        return;
    case Phase::kChangeType: {
        const SensorTypeTracker& tracker = doc_.SensorTypes();
        const bool settled = tracker.RequestedType() == SensorTypeTracker::kNoType
            && tracker.CurrentType() != SensorTypeTracker::kNoType;
        if (!settled && now < deadline_)
            return;
        if (settled && tracker.CurrentType() == file_.sensorType) {
            landed_.insert(sf::kSensorTypeKey);
            readBack_ = false;
            StartReading();
            return;
        }
        if (Away())
            return;
        // Refused only when the instrument said so: a change cut short by
        // a lost answer is asked for again.
        const unsigned refusals = doc_.WritesRefused(pn::kCoefficientFirst) + doc_.WritesRefused(pn::kCoefficientFirst + 1);
        if (refusals != typeRefusals_ || ++typeAttempts_ >= kTypeAttempts) {
            typeRefused_ = refusals != typeRefusals_;
            typeUnconfirmed_ = !typeRefused_;
            Finish(End::kDone);
            return;
        }
        doc_.SensorTypes().RequestType(file_.sensorType);
        deadline_ = now + kTypeWaitMs;
        return;
    }
    case Phase::kWrite:
        StepWrite();
        return;
    }
}

bool SettingsJob::Away()
{
    if (doc_.IsOnline()) {
        // Back: what waits is given its full time again.
        if (awaySince_ >= 0) {
            deadline_ = std::max(deadline_, clock_.utcMillis() + kAnswerWaitMs);
            cameBack_ = true;
        }
        awaySince_ = -1;
        return false;
    }
    // Whatever was asked is asked again once the unit is back.
    for (auto& entry : reads_)
        entry.second.asked = false;
    writing_ = false;
    const std::int64_t now = clock_.utcMillis();
    if (awaySince_ < 0)
        awaySince_ = now;
    if (now - awaySince_ > kAwayMs) {
        for (const auto& entry : reads_) {
            if (!entry.second.got)
                missing_.push_back(CTqk5820ConfigDoc::EntryName(entry.first));
        }
        Finish(wrote_ ? End::kGone : End::kNoAnswer);
    }
    return true;
}

void SettingsJob::StartReading()
{
    reads_.clear();
    texts_.clear();
    missing_.clear();
    awaySince_ = -1;
    deadline_ = clock_.utcMillis() + kReadPhaseMs;
    for (int p = pn::kCoefficientFirst; p < pn::kCoefficientFirst + 4; ++p)
        Want(p);
    Want(pn::kSerialNumber);
    Want(pn::kFirmwareVersion);
    phase_ = Phase::kReadType;
}

void SettingsJob::Want(int p)
{
    reads_.emplace(p, Fresh {});
}

bool SettingsJob::StepReads()
{
    bool settled = true;
    for (auto& [p, f] : reads_) {
        if (f.got || f.attempts >= kReadAttempts)
            continue;
        settled = false;
        if (!f.asked) {
            // A read already out (a window's) is let finish: the one asked
            // here must leave after this call.
            if (!doc_.IsOutstanding(p) && doc_.RequestRead(p))
                f.asked = true;
            continue;
        }
        if (doc_.IsOutstanding(p))
            continue;
        const std::string& text = doc_.ValueText(p);
        if (text.size() == protocol::kDataLength) {
            texts_[p] = text;
            f.got = true;
        } else {
            f.asked = false;
            ++f.attempts;
        }
    }
    return settled;
}

void SettingsJob::ReadDone()
{
    sf::Header header = header_;
    header.savedAt = csvlog::isoTime(clock_.utcMillis());
    header.serialNumber = texts_.count(pn::kSerialNumber) ? protocol::trimmed(texts_[pn::kSerialNumber]) : protocol::kUnknownSerial;
    if (texts_.count(pn::kFirmwareVersion)) {
        char version[32];
        std::snprintf(version, sizeof version, "%.1f", protocol::textToDouble(texts_[pn::kFirmwareVersion]));
        header.firmware = version;
    } else {
        header.firmware = "???";
    }
    missing_.clear();
    // A file saved must say where it came from.
    if (!applying_) {
        if (!texts_.count(pn::kSerialNumber))
            missing_.push_back("serial-number");
        if (!texts_.count(pn::kFirmwareVersion))
            missing_.push_back("firmware");
    }
    sf::Settings read = sf::Make(header, unit_.sensorType, [this](int p) { return texts_[p]; }, missing_);
    if (!missing_.empty()) {
        Finish(wrote_ ? End::kGone : End::kNoAnswer);
        return;
    }
    unit_ = std::move(read);
    if (!applying_) {
        Finish(End::kDone);
        return;
    }
    if (readBack_) {
        // What a lost answer left undone is written again; but not into a
        // unit whose sensor type has changed meanwhile (a reset): the
        // settings would land in another type's places.
        ++rounds_;
        if (unit_.sensorType != file_.sensorType) {
            Finish(End::kDone);
            return;
        }
        std::vector<sf::Definition> again;
        for (const sf::Definition& d : round_) {
            const sf::Value* now = unit_.Find(d.key);
            if (refused_.count(d.key) == 0 && (now == nullptr || now->text != file_.Find(d.key)->text))
                again.push_back(d);
        }
        if (again.empty() || rounds_ >= kRounds)
            Finish(End::kDone);
        else
            StartRound(std::move(again));
        return;
    }
    if (typeBefore_ < 0)
        typeBefore_ = unit_.sensorType;
    if (unit_.sensorType != file_.sensorType) {
        if (options_.dryRun && options_.changeSensorType) {
            plan_ = sf::DefinitionsFor(file_.sensorType);
            plan_.erase(std::remove_if(plan_.begin(), plan_.end(),
                                       [this](const sf::Definition& d) { return file_.Find(d.key) == nullptr; }),
                        plan_.end());
            Finish(End::kDone);
        } else if (!options_.changeSensorType) {
            Finish(End::kOtherType);
        } else {
            // The type first: a new type brings the coefficients it starts with.
            wrote_ = true;
            typeRefusals_ = doc_.WritesRefused(pn::kCoefficientFirst) + doc_.WritesRefused(pn::kCoefficientFirst + 1);
            doc_.SensorTypes().RequestType(file_.sensorType);
            deadline_ = clock_.utcMillis() + kTypeWaitMs;
            phase_ = Phase::kChangeType;
        }
        return;
    }
    // Only what differs is written, in the file's order.
    plan_.clear();
    for (const sf::Definition& d : sf::DefinitionsFor(file_.sensorType)) {
        const sf::Value* f = file_.Find(d.key);
        const sf::Value* u = unit_.Find(d.key);
        if (f != nullptr && (u == nullptr || sf::Normalise(d, u->text) != f->text))
            plan_.push_back(d);
    }
    planned_ = true;
    if (options_.dryRun || plan_.empty()) {
        Finish(End::kDone);
        return;
    }
    StartRound(plan_);
}

void SettingsJob::StartRound(std::vector<sf::Definition> round)
{
    // A custom thermistor's first two coefficients are also its code pair:
    // written one after the other they must not pass through a pair that
    // stands for another type.
    const sf::Value* a = file_.Find("coefficient-1");
    const sf::Value* b = unit_.Find("coefficient-2");
    if (file_.sensorType == 0 && a != nullptr && b != nullptr
        && sensorwords::Classify(std::strtof(a->text.c_str(), nullptr), std::strtof(b->text.c_str(), nullptr), 1, 1)
            != 0) {
        const auto first = std::find_if(round.begin(), round.end(), [](const sf::Definition& d) {
            return std::string(d.key) == "coefficient-1";
        });
        if (first != round.end() && std::next(first) != round.end()
            && std::string(std::next(first)->key) == "coefficient-2")
            std::iter_swap(first, std::next(first));
    }
    round_ = std::move(round);
    next_ = 0;
    writing_ = false;
    // The read that made this round came after any outage before it.
    cameBack_ = false;
    awaySince_ = -1;
    deadline_ = clock_.utcMillis() + kAnswerWaitMs;
    phase_ = Phase::kWrite;
}

void SettingsJob::StepWrite()
{
    if (Away())
        return;
    const std::int64_t now = clock_.utcMillis();
    // Back after an outage (a reset?): read everything before writing on.
    bool endRound = next_ >= round_.size() || cameBack_;
    cameBack_ = false;
    if (!endRound) {
        const sf::Definition& d = round_[next_];
        if (!writing_) {
            refusedBefore_ = doc_.WritesRefused(d.parameter);
            if (doc_.WriteText(d.parameter, sf::WireText(d, file_.Find(d.key)->text))) {
                writing_ = true;
                wrote_ = true;
                deadline_ = now + kAnswerWaitMs;
            } else if (now >= deadline_) {
                // Never taken (another write of it kept in flight): left to
                // the read back, which finds it not confirmed. A coefficient
                // ends the round: the next could make a pair of another type.
                ++next_;
                deadline_ = now + kAnswerWaitMs;
                if (isCoefficient(d) || next_ >= round_.size()) {
                    readBack_ = true;
                    StartReading();
                }
            }
            return;
        }
        if (doc_.IsOutstanding(d.parameter))
            return;
        writing_ = false;
        ++next_;
        deadline_ = now + kAnswerWaitMs;
        if (doc_.WritesRefused(d.parameter) != refusedBefore_) {
            refused_.insert(d.key);
            endRound = endRound || isCoefficient(d);
        } else if (doc_.ValueText(d.parameter).size() == protocol::kDataLength) {
            landed_.insert(d.key);
        } else if (isCoefficient(d)) {
            // Its answer was lost, so it may not have landed: the next
            // coefficient could otherwise make a pair of another type.
            endRound = true;
        }
        if (next_ >= round_.size())
            endRound = true;
    }
    if (endRound) {
        // Everything read back: only what the unit now has counts.
        readBack_ = true;
        StartReading();
    }
}

std::vector<SettingsJob::Row> SettingsJob::Report() const
{
    std::vector<Row> rows;
    if (!applying_ || !(end_ == End::kDone || end_ == End::kGone) || options_.dryRun)
        return rows;
    if (typeRefused_ || typeUnconfirmed_)
        return {{sf::kSensorTypeKey, typeRefused_ ? Outcome::kRefused : Outcome::kNotConfirmed}};
    const bool typeLanded = landed_.count(sf::kSensorTypeKey) != 0;
    const auto planned = [this](const std::string& key) {
        return std::any_of(plan_.begin(), plan_.end(), [&key](const sf::Definition& d) { return key == d.key; });
    };
    if (end_ == End::kGone) {
        // Only what was answered is known to have landed; what the first
        // read found as in the file was not written.
        rows.push_back({sf::kSensorTypeKey, typeLanded ? Outcome::kLanded
                                            : ChangesType() ? Outcome::kNotConfirmed
                                                            : Outcome::kAsItWas});
        for (const sf::Value& v : file_.values) {
            const Outcome o = landed_.count(v.key)  ? Outcome::kLanded
                : refused_.count(v.key)             ? Outcome::kRefused
                : planned_ && !planned(v.key)       ? Outcome::kAsItWas
                                                    : Outcome::kNotConfirmed;
            rows.push_back({v.key, o});
        }
        return rows;
    }
    for (const sf::Difference& d : sf::Compare(file_, unit_)) {
        const bool written = d.key == sf::kSensorTypeKey ? typeLanded : planned(d.key);
        Outcome o = Outcome::kNotConfirmed;
        if (!d.differs)
            o = written ? Outcome::kLanded : Outcome::kAsItWas;
        else if (refused_.count(d.key))
            o = Outcome::kRefused;
        rows.push_back({d.key, o});
    }
    return rows;
}
