// The positions in the engine's interface tables of every operation the
// module calls. They are the module's binary contract with an engine built
// to the same tables, so they are read back from the declarations here
// rather than trusted to stay where they were put.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <string>

#include "host/engine_loading.h"
#include "host/file_system.h"
#include "host/graphics.h"
#include "host/mesh.h"
#include "host/scf.h"
#include "host/view.h"

namespace {

// The table slot a pointer to a virtual member function names, or -1 for a
// pointer to a non-virtual one. On the Itanium C++ ABI as x86 uses it, such a
// pointer is two words, the first holding 1 + the slot's byte offset in the
// table for a virtual function (odd, as functions are aligned), the address
// for any other.
template <class Member>
std::ptrdiff_t SlotOf(Member member) {
  static_assert(sizeof(Member) == 2 * sizeof(std::ptrdiff_t), "two-word member pointers");
  std::ptrdiff_t words[2];
  std::memcpy(words, &member, sizeof words);
  if ((words[0] & 1) == 0) return -1;
  return (words[0] - 1) / static_cast<std::ptrdiff_t>(sizeof(void*));
}

struct Position {
  std::string operation;
  std::ptrdiff_t slot;
  std::ptrdiff_t expected;
};

TEST(HostTable, EveryOperationTheModuleCallsSitsAtItsPosition) {
#if !defined(__x86_64__) && !defined(__i386__)
  GTEST_SKIP() << "member pointers are read as the x86 Itanium ABI lays them out";
#endif
  const Position positions[] = {
      // The base operations, which every position counts from.
      {"iBase::IncRef", SlotOf(&iBase::IncRef), 0},
      {"iBase::DecRef", SlotOf(&iBase::DecRef), 1},
      {"iBase::GetRefCount", SlotOf(&iBase::GetRefCount), 2},
      {"iBase::QueryInterface", SlotOf(&iBase::QueryInterface), 3},
      {"iRenderView::QueryInterface", SlotOf(&iRenderView::QueryInterface), 3},

      {"iSCF::GetInterfaceID", SlotOf(&iSCF::GetInterfaceID), 14},
      {"iRenderView::GetGraphics3D", SlotOf(&iRenderView::GetGraphics3D), 10},
      {"iRenderView::GetCamera", SlotOf(&iRenderView::GetCamera), 26},
      {"iRenderView::CalculateFogMesh", SlotOf(&iRenderView::CalculateFogMesh), 30},
      {"iRenderView::ClipBBox", SlotOf(&iRenderView::ClipBBox), 33},
      {"iCamera::GetTransform", SlotOf(&iCamera::GetTransform), 14},
      {"iCamera::IsMirrored", SlotOf(&iCamera::IsMirrored), 23},
      {"iMovable::GetFullTransform", SlotOf(&iMovable::GetFullTransform), 17},
      {"iGraphics3D::SetObjectToCamera", SlotOf(&iGraphics3D::SetObjectToCamera), 15},
      {"iGraphics3D::GetObjectToCamera", SlotOf(&iGraphics3D::GetObjectToCamera), 16},
      {"iGraphics3D::SetRenderState", SlotOf(&iGraphics3D::SetRenderState), 29},
      {"iGraphics3D::DrawTriangleMesh", SlotOf(&iGraphics3D::DrawTriangleMesh), 34},
      {"iGraphics3D::GetVertexBufferManager", SlotOf(&iGraphics3D::GetVertexBufferManager), 46},
      {"iVertexBufferManager::CreateBuffer", SlotOf(&iVertexBufferManager::CreateBuffer), 4},
      {"iVertexBufferManager::LockBuffer", SlotOf(&iVertexBufferManager::LockBuffer), 6},
      {"iVertexBufferManager::UnlockBuffer", SlotOf(&iVertexBufferManager::UnlockBuffer), 7},
      {"iVertexBufferManager::AddClient", SlotOf(&iVertexBufferManager::AddClient), 9},
      {"iMeshObjectDrawCallback::BeforeDrawing", SlotOf(&iMeshObjectDrawCallback::BeforeDrawing),
       4},
      {"iMaterialWrapper::GetMaterialHandle", SlotOf(&iMaterialWrapper::GetMaterialHandle), 8},
      {"iMaterialWrapper::Visit", SlotOf(&iMaterialWrapper::Visit), 12},
      {"iObjectRegistry::Get", SlotOf(&iObjectRegistry::Get), 6},
      {"iFileSystem::GetRoot", SlotOf(&iFileSystem::GetRoot), 4},
      {"iFileSystem::GetModelFolder", SlotOf(&iFileSystem::GetModelFolder), 5},
  };
  for (const Position& position : positions)
    EXPECT_EQ(position.slot, position.expected) << position.operation;
}

}  // namespace
