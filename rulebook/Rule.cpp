#include "rulebook/Rule.h"

#include <algorithm>
#include <vector>

#include "text/LineWalk.h"
#include "text/Numbers.h"

namespace {
constexpr int kRuleFields = 14;

bool InTenthsRange(int v) { return v >= 0 && v <= 20; }
}  // namespace

bool CRule::SetNumber(int v) {
    number_ = v;
    return true;
}
bool CRule::SetName(std::string v) {
    name_ = std::move(v);
    return true;
}
bool CRule::SetText(std::string v) {
    text_ = std::move(v);
    return true;
}
bool CRule::SetRemark(std::string v) {
    remark_ = std::move(v);
    return true;
}
bool CRule::SetCreated(qv::Seconds v) {
    created_ = v;
    return true;
}
bool CRule::SetUpdated(qv::Seconds v) {
    updated_ = v;
    return true;
}
bool CRule::SetBase(int v) {
    base_ = v;
    return true;
}
bool CRule::SetCumulative(int v) {
    if (!InTenthsRange(v)) return false;
    cumulative_ = v;
    return true;
}
bool CRule::SetExtenuation(int v) {
    if (!InTenthsRange(v)) return false;
    extenuation_ = v;
    return true;
}

int CRule::GetShare(int index) const {
    if (index < 0 || index >= kShareCount) return -1;
    return shares_[static_cast<size_t>(index)];
}

bool CRule::SetShare(int index, int value) {
    if (index < 0 || index >= kShareCount) return false;
    shares_[static_cast<size_t>(index)] = value;
    return true;
}

bool CRule::CopyFrom(const CRule* source) {
    if (source == nullptr) return false;
    *this = *source;
    return true;
}

std::string CRule::ToLine() const {
    std::string line;
    line.reserve(64 + name_.size() + text_.size() + remark_.size());
    auto field = [&line](std::string_view v) {
        line += '\t';
        line += v;
    };
    line += qv::Decimal(number_);
    field(qv::Decimal(created_));
    field(qv::Decimal(updated_));
    // Texts go out whole, a stray zero byte included, so a save never shortens them.
    field(name_);
    field(text_);
    field(remark_);
    field(qv::Decimal(base_));
    field(qv::Decimal(cumulative_));
    field(qv::Decimal(extenuation_));
    for (int share : shares_) field(qv::Decimal(share));
    return line;
}

bool CRule::FromLine(std::string_view line) {
    if (line.find_first_of("\r\n") != std::string_view::npos) return false;
    if (std::count(line.begin(), line.end(), '\t') != kRuleFields - 1) return false;
    std::vector<std::string_view> f;
    qv::SplitFields(line, f);
    number_ = qv::ReadInt32(f[0]);
    created_ = qv::ReadInt64(f[1]);
    updated_ = qv::ReadInt64(f[2]);
    name_.assign(f[3]);
    text_.assign(f[4]);
    remark_.assign(f[5]);
    base_ = qv::ReadInt32(f[6]);
    cumulative_ = qv::ReadInt32(f[7]);
    extenuation_ = qv::ReadInt32(f[8]);
    for (int i = 0; i < kShareCount; ++i) shares_[static_cast<size_t>(i)] = qv::ReadInt32(f[9 + static_cast<size_t>(i)]);
    return true;
}
