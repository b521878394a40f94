// Small engine-side objects that let tests watch what the module does to them.
#pragma once

#include <string>
#include <vector>

#include "host/mesh.h"
#include "host/scf_impl.h"

namespace rwtest {

// Appends to a shared log when its count drops, and answers no query.
class LoggingObject : public scfImplementation<LoggingObject, iBase> {
 public:
  LoggingObject(std::vector<std::string>* log, std::string name)
      : log_(log), name_(std::move(name)) {}
  void DecRef() override {
    if (log_) log_->push_back(name_ + ".DecRef");
    scfImplementation::DecRef();
  }
  void* scfQueryOwn(scfInterfaceID, scfInterfaceVersion) { return nullptr; }

 private:
  std::vector<std::string>* log_;
  std::string name_;
};

// A visibility callback that answers what it is told and logs releases.
class DrawCallback : public scfImplementation<DrawCallback, iMeshObjectDrawCallback> {
 public:
  explicit DrawCallback(std::vector<std::string>* log = nullptr, bool answer = true)
      : log_(log), answer(answer) {}
  bool BeforeDrawing(iMeshObject* mesh, iRenderView*) override {
    calls++;
    lastMesh = mesh;
    return answer;
  }
  void DecRef() override {
    if (log_) log_->push_back("callback.DecRef");
    scfImplementation::DecRef();
  }

  std::vector<std::string>* log_;
  bool answer;
  int calls = 0;
  iMeshObject* lastMesh = nullptr;
};

}  // namespace rwtest
