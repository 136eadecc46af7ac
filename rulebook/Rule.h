#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "rulebook/Clock.h"

// One article of the rule book. Texts are CP932 bytes.
class CRule {
public:
    static constexpr int kShareCount = 5;  // implements 1..4, then the point balance

    int GetNumber() const { return number_; }
    bool SetNumber(int v);
    std::string GetName() const { return name_; }
    bool SetName(std::string v);
    std::string GetText() const { return text_; }
    bool SetText(std::string v);
    std::string GetRemark() const { return remark_; }
    bool SetRemark(std::string v);
    qv::Seconds GetCreated() const { return created_; }
    bool SetCreated(qv::Seconds v);
    qv::Seconds GetUpdated() const { return updated_; }
    bool SetUpdated(qv::Seconds v);
    int GetBase() const { return base_; }
    bool SetBase(int v);
    // Coefficients are tenths, 0..20; the setters refuse anything else.
    int GetCumulative() const { return cumulative_; }
    bool SetCumulative(int v);
    int GetExtenuation() const { return extenuation_; }
    bool SetExtenuation(int v);
    // -1 for an index outside 0..4.
    int GetShare(int index) const;
    bool SetShare(int index, int value);
    bool CopyFrom(const CRule* source);

    // One line of the rule book file, without its line end.
    std::string ToLine() const;
    // False, rule unchanged, when the line is not a rule line.
    bool FromLine(std::string_view line);

    friend bool operator==(const CRule&, const CRule&) = default;

private:
    std::string name_;
    std::string text_;
    std::string remark_;
    std::int32_t number_ = 0;
    qv::Seconds created_ = 0;
    qv::Seconds updated_ = 0;
    std::int32_t base_ = 0;
    std::int32_t cumulative_ = 0;
    std::int32_t extenuation_ = 0;
    std::array<std::int32_t, kShareCount> shares_{};
};
