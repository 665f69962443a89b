// The shipped module is nebulite_core linked whole; this file only gives the
// library target a source of its own.
