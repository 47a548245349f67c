#pragma once

#include <string>

namespace core {

enum class Buttons { Ok, YesNo };
enum class Answer { Ok, Yes, No };
enum class Icon { None, Information, Warning, Error, Question };

// A modal message box. An empty caption means the application's title.
class Prompter {
  public:
    virtual ~Prompter();
    virtual Answer Show(const std::string& text, const std::string& caption = {},
                        Buttons buttons = Buttons::Ok, Icon icon = Icon::None) = 0;
};

} // namespace core
