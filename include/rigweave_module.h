// Rigweave as a module of an engine: what an engine calls, what the module
// asks of the engine in return, and when. The README's "Writing a host"
// says the same at length; an engine that follows this header and host/*.h
// can load and draw the module's characters.
//
// Loading. Open the module's file (dlopen, RTLD_NOW) and call its entry
// point with the engine's component system. Create the class
// kRigweaveClassId (ical3dstate.h): the instance is the mesh object type.
// Initialise it through iComponent with the engine's object registry, then
// make mesh objects through the type's factories (NewFactory, NewInstance).
// Release every object the module made, then call the exit point, then close
// the file.
//
// What the module asks of the engine:
//  - iSCF (the component system given to the entry point): interface ids,
//    GetInterfaceID, for every query the module makes.
//  - iObjectRegistry (given to Initialize): Get(kFileSystemTag). Asked once
//    for each mesh object, when the factory makes it; none registered means
//    models/ below the process's current folder.
//  - iFileSystem: GetModelFolder, then GetRoot, read afresh at the start of
//    every LoadModel (models/ below the root unless a folder is named).
//  - iLoader and iEngine (the two given to LoadModel), during LoadModel
//    only: first LoadTexture(modelName, kRigweaveFallbackTexture,
//    kRigweaveFallbackTextureFlags, null, false) and FindMaterial(modelName):
//    the material sub-meshes without a map of their own are drawn with (none
//    found: those sub-meshes are skipped). Then, once per raw texture a
//    material names, GetTextureList()->NewTexture(image) and
//    CreateMaterial(mapName, texture); a null answer only costs that map.
//  - iRenderView, iCamera, iMovable, iGraphics3D, iVertexBufferManager
//    during DrawTest and Draw only (host/view.h, host/graphics.h).
//
// Drawing. Each frame, for each object: DrawTest(view, movable), then, when
// it answers true, Draw(view, movable, zbufMode) with the same view and
// movable. DrawTest sets the graphics' object-to-camera transform (the
// camera's transform / the movable's full transform) that Draw's triangle
// meshes are drawn with, and stores the view's clipping in the meshes'
// records: a Draw without its DrawTest draws with whatever transform was set
// last. Draw advances the animation by the engine clock (host/clock.h) since
// the object's last Draw, then locks one vertex buffer per sub-mesh and
// draws each sub-mesh twice, the second time with every triangle reversed.
// The vertices are in the movable's object space, in engine units (model
// units times the configuration's scale times kRigweaveDrawnUnitsPerModelUnit),
// +y up; characters exported facing Cal3D's -y face +z.
//
// Threads. Every call to the module's objects comes from one thread at a
// time, the engine's render thread: all objects share the frame's working
// storage. The module starts no threads.
//
// Fixed answers. GetObjectBoundingBox is always the flat box from (-1,-1,0)
// to (1,1,0), whatever is loaded, and GetRadius follows from it; the polygon
// mesh view (iPolygonMesh) is the box around the rest pose measured at load,
// at half the drawn size (kRigweaveBoxUnitsPerModelUnit).
#pragma once

#include "host/scf.h"

extern "C" {
// The entry point: registers nothing itself; answers the module's class
// table, ended by a row whose classId is null, valid until the exit point.
// Queries the module makes go to `scf` from then on.
scfClassInfo* rigweave_scfInitialize(iSCF* scf);
// The exit point, after the engine has released every object of the module
// and before it closes the file.
void rigweave_scfFinalize();
}

using RigweaveInitializeFunc = scfClassInfo* (*)(iSCF* scf);
using RigweaveFinalizeFunc = void (*)();
constexpr char kRigweaveInitializeSymbol[] = "rigweave_scfInitialize";
constexpr char kRigweaveFinalizeSymbol[] = "rigweave_scfFinalize";

// The texture LoadModel asks the engine's loader for, a path of the engine's
// virtual file system, and the flags it passes (the engine's business).
constexpr char kRigweaveFallbackTexture[] = "/lib/std/stone4.gif";
constexpr int kRigweaveFallbackTextureFlags = 2;

// Engine units per model unit at scale 1: a character 100 units tall
// stands 2 tall. The polygon mesh view's box is measured at half that.
constexpr double kRigweaveDrawnUnitsPerModelUnit = 0.02;
constexpr double kRigweaveBoxUnitsPerModelUnit = 0.01;

// What a character may hold; LoadModel refuses more, in one line.
constexpr int kRigweaveMaxAnimations = 20;
constexpr int kRigweaveMaxSubmeshes = 100;
constexpr int kRigweaveMaxSubmeshVertices = 30000;
constexpr int kRigweaveMaxSubmeshFaces = 50000;
// Pixels of one raw texture in all; a larger one is a "Can't load texture" line.
constexpr long kRigweaveMaxTexturePixels = 4096L * 4096L;
