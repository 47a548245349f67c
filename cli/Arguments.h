#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace cli {

// A command's words: positional arguments, "--name value" options and "--flag" switches.
// Anything not declared is a usage error.
class CArguments {
  public:
    CArguments(std::vector<std::string> words, std::set<std::string> valueOptions,
               std::set<std::string> flags);

    bool Ok() const { return m_error.empty(); }
    const std::string& Error() const { return m_error; }
    const std::vector<std::string>& Positional() const { return m_positional; }
    std::optional<std::string> Value(const std::string& name) const;
    // The option read as a whole integer; an ill-formed one makes the arguments not Ok.
    int32_t Int(const std::string& name, int32_t fallback);
    bool Flag(const std::string& name) const { return m_flags.count(name) > 0; }

  private:
    std::vector<std::string> m_positional;
    std::map<std::string, std::string> m_values;
    std::set<std::string> m_flags;
    std::string m_error;
};

} // namespace cli
