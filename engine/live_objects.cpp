#include "engine/live_objects.h"

#include <mutex>

namespace rwengine {
namespace {

struct Table {
  std::mutex lock;
  // Nodes of a map never move, so the cells handed out stay put.
  std::map<std::string, std::atomic<int>> cells;
};

Table& GetTable() {
  // Never destroyed: objects of static storage may still count down at exit.
  static Table* table = new Table;
  return *table;
}

}  // namespace

std::atomic<int>& LiveObjects::Cell(const char* className) {
  Table& table = GetTable();
  std::lock_guard<std::mutex> hold(table.lock);
  return table.cells[className];
}

int LiveObjects::Count(const std::string& className) {
  Table& table = GetTable();
  std::lock_guard<std::mutex> hold(table.lock);
  auto it = table.cells.find(className);
  return it == table.cells.end() ? 0 : it->second.load();
}

int LiveObjects::Total() {
  Table& table = GetTable();
  std::lock_guard<std::mutex> hold(table.lock);
  int total = 0;
  for (auto& [name, cell] : table.cells) total += cell.load();
  return total;
}

std::map<std::string, int> LiveObjects::Snapshot() {
  Table& table = GetTable();
  std::lock_guard<std::mutex> hold(table.lock);
  std::map<std::string, int> counts;
  for (auto& [name, cell] : table.cells) counts[name] = cell.load();
  return counts;
}

}  // namespace rwengine
