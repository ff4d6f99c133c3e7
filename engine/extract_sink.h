// The engine's call-back into its owner.
#ifndef QUILLON_ENGINE_EXTRACT_SINK_H_
#define QUILLON_ENGINE_EXTRACT_SINK_H_

// Told the name of each .eml file (without its folder) before the file is created. The name is
// valid only during the call and is never null. Answer true to create the file, false to stop the
// export (ExportMailbox then returns kExportAborted). Called on the thread that runs the export.
// The engine never deletes a sink, so the interface has no public virtual destructor.
class IExtractSink {
 public:
  virtual bool OnNextFile(const char* fileName) = 0;

 protected:
  ~IExtractSink() = default;
};

#endif  // QUILLON_ENGINE_EXTRACT_SINK_H_
