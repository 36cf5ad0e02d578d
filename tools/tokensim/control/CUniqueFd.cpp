#include "CUniqueFd.h"

#include <utility>

#include <unistd.h>

CUniqueFd::~CUniqueFd()
{
    Reset();
}

CUniqueFd::CUniqueFd(CUniqueFd&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}

CUniqueFd& CUniqueFd::operator=(CUniqueFd&& other) noexcept
{
    if (this != &other)
        Reset(std::exchange(other.m_fd, -1));
    return *this;
}

void CUniqueFd::Reset(int fd)
{
    if (m_fd >= 0)
        close(m_fd);
    m_fd = fd;
}
