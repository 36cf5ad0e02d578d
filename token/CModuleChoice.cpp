#include "token/CModuleChoice.h"

#include <cstdlib>

std::string CModuleChoice::Resolve(const std::optional<std::string>& option)
{
    if (option)
        return *option;
    const char* variable = std::getenv(kVariable);
    if (variable != nullptr && *variable != '\0')
        return variable;
    return kDefaultFileName;
}
