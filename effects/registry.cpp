// Effects register themselves in their own files; this file keeps the object
// library non-empty before any effect exists.
