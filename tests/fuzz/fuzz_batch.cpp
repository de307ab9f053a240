// The batch command on arbitrary bytes: the CSV reader, the header, rows and patterns. Beyond
// not crashing: nothing is written on a usage error; otherwise every input record (or
// pattern) has exactly one output row of the header's width, a known status, empty numbers on
// errors, a record with more filled fields than the header is an error, and a pressure that a
// fresh computation through the core repeats to the bit (from the d it lists as used, for
// peaks given as 2-theta or energies).
#include "rows/batch.h"
#include "rows/csv.h"
#include "core/numbers.h"
#include "core/pressure.h"
#include "core/standards.h"
#include "tests/fuzz/fuzz_bytes.h"

#include <cmath>
#include <set>
#include <string>
#include <vector>

namespace {

// The first byte may put a header in front, so that most inputs reach the rows.
const char* const kHeaders[] = {
    "",
    "standard,t_c,hkl,d,sigma_d,sigma_t\n",
    "pattern,standard,t_c,hkl,d,sigma_d,sigma_t\n",
    "d\thkl\tt_c\tstandard\tsigma_d\n",
};
// With bit 0x10 of the first byte, headers of peaks as measured instead.
const char* const kPositionHeaders[] = {
    "standard,t_c,hkl,two_theta,sigma_two_theta,wavelength,energy_kev,sigma_t\n",
    "pattern,standard,t_c,hkl,e_kev,sigma_e_kev,two_theta_fixed,d,sigma_d\n",
    "e_kev\ttwo_theta\thkl\tt_c\tstandard\tenergy_kev\ttwo_theta_fixed\td\tsigma_two_theta\n",
};

std::vector<std::vector<std::string>> Records(const std::string& text, char delimiter, bool guess)
{
    hv::rows::MemorySource source(text);
    hv::rows::CsvReader reader(source);
    reader.SetDelimiter(guess ? reader.GuessDelimiter() : delimiter);
    hv::rows::Record r;
    std::vector<std::vector<std::string>> out;
    while (reader.Next(r) == hv::rows::CsvReader::Got::Record) {
        std::vector<std::string> fields;
        for (std::size_t i = 0; i < r.Kept(); ++i) fields.emplace_back(r.Field(i));
        out.push_back(std::move(fields));
    }
    return out;
}

std::string Lower(std::string s)
{
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string_view Trim(std::string_view t)
{
    while (!t.empty() && (t.front() == ' ' || t.front() == '\t')) t.remove_prefix(1);
    while (!t.empty() && (t.back() == ' ' || t.back() == '\t')) t.remove_suffix(1);
    return t;
}

// The pressure of a row computed afresh from its fields as the output echoes them; with
// positions, from the d_used and sigma_d_used it lists (at[3] and at[4] point there).
hv::Result Fresh(const std::vector<std::string>& row, const std::vector<int>& at)
{
    hv::Result failed;
    const auto field = [&](int k) { return at[static_cast<std::size_t>(k)] < 0 ? std::string() : row[static_cast<std::size_t>(at[static_cast<std::size_t>(k)])]; };
    const hv::Standard* s = hv::FindStandardAnyCase(Trim(field(0)));
    float t = 0;
    std::string why;
    hv::Peak peak;
    double sigmaT = hv::kNone;
    if (!s || !hv::ParseTemperature(field(1), t, why)) return failed;
    const auto reflection = hv::ParseReflection(field(2), *s, why);
    if (!reflection || !hv::ParseNumber(field(3), peak.d, why)) return failed;
    peak.reflection = *reflection;
    if (!Trim(field(4)).empty() && !hv::ParseNumber(field(4), peak.sigmaD, why)) return failed;
    if (!Trim(field(5)).empty() && !hv::ParseNumber(field(5), sigmaT, why)) return failed;
    return hv::Fit(*s, t, {&peak, 1}, sigmaT);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    if (size == 0) return 0;
    const std::size_t which = data[0] % 4;
    const char* const head = (data[0] & 0x10) && which ? kPositionHeaders[which - 1] : kHeaders[which];
    const std::string input = head + std::string(reinterpret_cast<const char*>(data) + 1, size - 1);

    std::string out;
    hv::rows::MemorySource source(input);
    const hv::rows::BatchSummary s = hv::rows::RunBatch(source, [&](std::string_view t) { out += t; }, 1);
    if (s.exitCode == 2) {
        FUZZ_CHECK(out.empty() && !s.error.empty());
        return 0;
    }
    FUZZ_CHECK(s.exitCode == 0 || s.exitCode == 1);

    const auto in = Records(input, ',', true);
    const auto rows = Records(out, ',', false);
    FUZZ_CHECK(!in.empty() && !rows.empty());
    const std::vector<std::string>& header = rows[0];
    const std::size_t width = header.size();
    FUZZ_CHECK(width >= 11);
    const std::vector<std::string> results = {"a", "sigma_a", "v_ratio", "p_gpa", "sigma_p_gpa", "status", "message"};
    FUZZ_CHECK(std::vector<std::string>(header.end() - 7, header.end()) == results);

    // Where the input's columns sit, by their names in its header (echoed without a pattern).
    const char* const names[] = {"standard", "t_c", "hkl", "d", "sigma_d", "sigma_t", "pattern", "two_theta", "e_kev"};
    constexpr std::size_t kNamed = std::size(names);
    std::vector<int> at(kNamed, -1);
    for (std::size_t i = 0; i < in[0].size(); ++i) {
        std::string_view name = in[0][i];
        if (i == 0 && name.starts_with("\xEF\xBB\xBF")) name.remove_prefix(3);
        for (std::size_t k = 0; k < kNamed; ++k) {
            if (Lower(std::string(Trim(name))) == names[k]) at[k] = static_cast<int>(i);
        }
    }
    FUZZ_CHECK(at[0] >= 0 && at[1] >= 0 && at[2] >= 0 && (at[3] >= 0 || at[7] >= 0 || at[8] >= 0));
    // Peaks as measured add d_used and sigma_d_used before the results.
    const bool positions = at[7] >= 0 || at[8] >= 0;
    const std::size_t used = positions ? 2 : 0;
    if (positions) FUZZ_CHECK(header[width - 9] == "d_used" && header[width - 8] == "sigma_d_used");
    const bool patterned = at[6] >= 0;
    if (patterned) {
        FUZZ_CHECK(width == 11 + used && header[0] == "pattern" && header[3] == "n_peaks");
        // One row per distinct pattern name.
        std::set<std::string> distinct;
        for (std::size_t i = 1; i < in.size(); ++i) {
            const auto k = static_cast<std::size_t>(at[6]);
            distinct.insert(k < in[i].size() ? in[i][k] : std::string());
        }
        FUZZ_CHECK(rows.size() - 1 == distinct.size());
    } else {
        FUZZ_CHECK(width == in[0].size() + 7 + used);
        FUZZ_CHECK(rows.size() == in.size());  // one output row per input record
    }
    // Where Fresh finds d and sigma_d: the columns the row lists as used.
    std::vector<int> freshAt = at;
    if (positions) {
        freshAt[3] = static_cast<int>(width - 9);
        freshAt[4] = static_cast<int>(width - 8);
    }

    int64_t errors = 0;
    for (std::size_t r = 1; r < rows.size(); ++r) {
        const std::vector<std::string>& row = rows[r];
        FUZZ_CHECK(row.size() == width);
        const std::string& status = row[width - 2];
        const std::string& message = row[width - 1];
        const bool numbersEmpty = row[width - 7].empty() && row[width - 6].empty() && row[width - 5].empty() &&
                                  row[width - 4].empty() && row[width - 3].empty();
        if (!patterned) {
            // Fields past the header's: only blank ones, or the row is an error.
            std::size_t filled = 0;
            for (std::size_t k = 0; k < in[r].size(); ++k) {
                if (!Trim(in[r][k]).empty()) filled = k + 1;
            }
            FUZZ_CHECK(filled <= in[0].size() || status == "error");
        }
        if (status == "error") {
            ++errors;
            FUZZ_CHECK(numbersEmpty && !message.empty());
            continue;
        }
        if (positions && !patterned) FUZZ_CHECK(!row[width - 9].empty());
        FUZZ_CHECK(status == "ok" || status == "warning");
        FUZZ_CHECK((status == "warning") == !message.empty());
        FUZZ_CHECK(!row[width - 7].empty() && !row[width - 5].empty() && !row[width - 4].empty());
        // Every number is the shortest text of its value.
        for (std::size_t k = width - 7; k < width - 2; ++k) {
            double v = 0;
            std::string why;
            FUZZ_CHECK(row[k].empty() || (hv::ParseNumber(row[k], v, why) && hv::Shortest(v) == row[k]) ||
                       (k == width - 4 && hv::Shortest(static_cast<float>(v)) == row[k]));
        }
        double p = 0;
        std::string why;
        FUZZ_CHECK(hv::ParseNumber(row[width - 4], p, why));
        int32_t hundredths = 0;
        FUZZ_CHECK(hv::Hundredths(static_cast<float>(p), hundredths));
        if (!patterned) {
            const hv::Result fresh = Fresh(row, freshAt);
            FUZZ_CHECK(fresh.status != hv::Status::Error);
            FUZZ_CHECK(static_cast<float>(p) == fresh.pGpa);
            FUZZ_CHECK(hv::Shortest(fresh.pGpa) == row[width - 4]);
            FUZZ_CHECK(hv::StatusName(fresh.status) == status);
        }
    }
    FUZZ_CHECK(errors == s.errors);
    FUZZ_CHECK((s.exitCode == 1) == (errors > 0));

    // Workers change nothing but the speed. Starting threads dominates a small input's cost:
    // one input in eight.
    if ((data[0] & 0xe0) == 0xe0) {
        std::string parallel;
        hv::rows::MemorySource again(input);
        const hv::rows::BatchSummary s2 = hv::rows::RunBatch(again, [&](std::string_view t) { parallel += t; }, 3);
        FUZZ_CHECK(s2.exitCode == s.exitCode && parallel == out);
    }
    return 0;
}
