// Diagrams of models as SVG: blocks (and schedulers) as nodes in columns,
// routes as arrows. `quorin diagram` and the HTML report page draw the same
// picture; a model file gives its routes from its standard handlers, a C++
// model the passes a run was seen to make.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "quorin/blocks.h"

namespace quorin {

struct TDiagramNode {
  std::string Id;                 // the component's name: the SVG element's id
  std::string Class;              // its class, as the palette names it
  std::vector<std::string> Notes; // short lines under it: capacity, modes, time limits
  bool Block = true;              // false for a scheduler
  // Where the component stands on the form (its saved Left and Top), if
  // the model file gives it.
  bool Placed = false;
  double Left = 0, Top = 0;
};

// An arrow From -> To (indexes into Nodes). Dashed arrows are control links
// rather than routes: a scheduler's or a handler's Generate on a creator,
// a Lock or Unlock of a gate.
struct TDiagramEdge {
  int32_t From = 0;
  int32_t To = 0;
  std::string Label;
  bool Dashed = false;
};

struct TDiagram {
  std::vector<TDiagramNode> Nodes;
  std::vector<TDiagramEdge> Edges;
  std::vector<TDiagramNode> Others; // components that neither route nor are routed to
  // The index of the node called Id, or -1.
  int32_t Find(const std::string& Id) const;
};

// The notes that a block's own properties give: capacity, preemptive mode,
// priority order. Handlers add their own (time limits) where they are known.
std::vector<std::string> BlockNotes(const TComponent& Component);

// The diagram of a model's blocks and schedulers as the model gathers them,
// with one arrow per pair (From, To) in Passes, in that order.
TDiagram DiagramOfModel(const TModel& Model,
                        const std::vector<std::pair<const TBlock*, const TBlock*>>& Passes);

// Lays the diagram out and writes it as one SVG element (with an XML
// declaration when Standalone). Forward routes run left to right in columns
// by longest path from the sources; routes back to an earlier column or to
// the block itself go around the blocks through lanes of their own below
// them (long forward routes that a block would be in the way of, above
// them). When most nodes have their places on the form, the drawing keeps
// the form's layout instead: the nodes stand where the form has them (the
// distances widened where nodes would overlap), those without a place in a
// row below, and the arrows run as curves. Arrowheads end at the blocks' borders; each label sits on its own
// arrow where it touches no block, no other label and as few other arrows
// as the candidates allow. Every node is a <g> whose id is its name (class
// "block" or "scheduler"); every arrow a <path class="edge"> with
// data-from and data-to.
void WriteDiagramSvg(const TDiagram& Diagram, std::ostream& Out, bool Standalone = true);

} // namespace quorin
