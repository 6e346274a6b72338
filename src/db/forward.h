// Forward declarations of the store's main classes and of the user interface, for headers that only name
// them.
#pragma once

namespace zentaro {
class UserInterface;
}

namespace zentaro::db {
class Database;
class Table;
} // namespace zentaro::db
