// String tables: each library's compiled-in texts, looked up by module handle.
#include <cstdint>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <unordered_map>

#include "ruzada/kernel.h"

namespace rz::kernel {
namespace {

using Table = std::unordered_map<UINT, std::string>;

class StringTables {
public:
    void Register(HMODULE module, Table table)
    {
        std::lock_guard hold(m_lock);
        m_tables[module] = std::move(table);
    }

    void Unregister(HMODULE module)
    {
        std::lock_guard hold(m_lock);
        m_tables.erase(module);
    }

    // Copies as LoadStringA does; -1 when there is no such text.
    int Copy(HMODULE module, UINT id, char* buffer, int size)
    {
        std::lock_guard hold(m_lock);
        const auto table = m_tables.find(module);
        if (table == m_tables.end())
            return -1;
        const auto entry = table->second.find(id);
        if (entry == table->second.end())
            return -1;
        const std::string& text = entry->second;
        const size_t count = text.size() < static_cast<size_t>(size) ? text.size() : static_cast<size_t>(size) - 1;
        std::memcpy(buffer, text.data(), count);
        buffer[count] = '\0';
        return static_cast<int>(count);
    }

private:
    std::mutex m_lock;
    std::unordered_map<HMODULE, Table> m_tables;
};

// Never destroyed: libraries look their texts up while the process exits.
StringTables& Tables()
{
    static StringTables& tables = *new StringTables;
    return tables;
}

}  // namespace
}  // namespace rz::kernel

using rz::kernel::Tables;

void RegisterStringTable(HMODULE module, const StringTableEntry* entries, size_t count)
{
    if (!module || (!entries && count > 0))
        return;
    try {
        rz::kernel::Table table;
        for (size_t i = 0; i < count; ++i)
            table.emplace(entries[i].id, entries[i].text ? entries[i].text : "");
        Tables().Register(module, std::move(table));
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    }
}

void UnregisterStringTable(HMODULE module) { Tables().Unregister(module); }

int LoadStringA(HMODULE module, UINT id, char* buffer, int size)
{
    if (!buffer || size <= 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const int copied = Tables().Copy(module, id, buffer, size);
    if (copied >= 0)
        return copied;
    buffer[0] = '\0';
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return 0;
}
