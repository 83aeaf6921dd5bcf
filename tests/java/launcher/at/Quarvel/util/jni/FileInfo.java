package at.Quarvel.util.jni;

/** Stand-in: type and size of a card file. */
public class FileInfo {
    public int type;
    public int size;

    public FileInfo() {}
}
