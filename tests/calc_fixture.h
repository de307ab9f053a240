// Runs the real hivarnisse-calc as a user would, in a directory of the test's own: standard
// output, standard error and exit status of whole commands.
#pragma once

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

struct Outcome {
    int status = -1;
    std::string out, err;
};

class CalcFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = std::filesystem::temp_directory_path() /
               ("hv-calc-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->test_suite_name() + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    std::filesystem::path Write(const std::string& name, const std::string& text)
    {
        std::filesystem::create_directories((dir_ / name).parent_path());
        std::ofstream(dir_ / name, std::ios::binary) << text;
        return dir_ / name;
    }
    static std::string Slurp(const std::filesystem::path& p)
    {
        std::ifstream in(p, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    // args is shell text, run in the test's directory so that files are named as a user
    // types them; input, when given, goes to standard input.
    Outcome Calc(const std::string& args, const std::string& input = "")
    {
        Write("stdin", input);
        const std::string cmd = "cd '" + dir_.string() + "' && '" + HV_CALC + "' " + args + " <stdin >out 2>err";
        const int raw = std::system(cmd.c_str());
        Outcome r;
        r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        r.out = Slurp(dir_ / "out");
        r.err = Slurp(dir_ / "err");
        return r;
    }

    std::filesystem::path dir_;
};

// One CSV line of the program's output into fields (quotes as RFC 4180).
inline std::vector<std::string> CsvFields(const std::string& line)
{
    std::vector<std::string> f(1);
    bool quoted = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quoted && c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
            f.back() += '"';
            ++i;
        } else if (c == '"') {
            quoted = !quoted;
        } else if (c == ',' && !quoted) {
            f.emplace_back();
        } else {
            f.back() += c;
        }
    }
    return f;
}

// Rows of a CSV text as maps from the header's names; a field the row lacks reads "<missing>".
inline std::vector<std::map<std::string, std::string>> CsvRows(const std::string& text)
{
    std::istringstream in(text);
    std::string line;
    std::getline(in, line);
    const std::vector<std::string> names = CsvFields(line);
    std::vector<std::map<std::string, std::string>> rows;
    while (std::getline(in, line)) {
        const std::vector<std::string> f = CsvFields(line);
        std::map<std::string, std::string> row;
        for (std::size_t i = 0; i < names.size(); ++i) row[names[i]] = i < f.size() ? f[i] : "<missing>";
        rows.push_back(row);
    }
    return rows;
}
