#include "platform/CHexText.h"

#include <algorithm>
#include <cctype>

#include <openssl/crypto.h>

std::string CHexText::Upper(const unsigned char* data, std::size_t length)
{
    if (data == nullptr || length == 0)
        return {};
    std::string text(2 * length + 1, '\0');
    std::size_t written = 0;
    if (OPENSSL_buf2hexstr_ex(text.data(), text.size(), &written, data, length, '\0') != 1)
        return {};
    text.resize(written > 0 ? written - 1 : 0);  // written counts the terminator
    return text;
}

std::string CHexText::Lower(const unsigned char* data, std::size_t length)
{
    std::string text = Upper(data, length);
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}
