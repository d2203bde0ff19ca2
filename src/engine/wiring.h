#pragma once

#include "dialogs/editors.h"
#include "engine/engine.h"
#include "presentation/renderer.h"

namespace okt {

// Joins the engine, the renderer (screens, menus, lock screens) and the
// editors into one client: the lock screen's entry, refresh, click test and
// release, and the editors a pressed value opens. Every program with a
// display wires them the same way.
inline void wireClient(Protocol& p, Engine& engine, Renderer& renderer, EditorHost& editors) {
  renderer.setDisplay(&engine.display());
  engine.display().enterLock = [&renderer](uint32_t id) { return renderer.enterLock(id); };
  engine.refreshLock = [&renderer] { renderer.refreshLock(); };
  engine.lockButtonHit = [&renderer](uint32_t id) { return renderer.lockButtonHit(id); };
  engine.editVariable = [&p, &editors](uint32_t variable, uint32_t title) {
    editVariable(p, editors, variable, title);
  };
  p.hooks.leaveLock = [&renderer](uint32_t target, int reason) { return renderer.leaveLock(target, reason); };
}

}  // namespace okt
