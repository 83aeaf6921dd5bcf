package at.Quarvel.util.jni;

/** Stand-in: a card of the host; peer is the native card. */
public class SCard {
    public int peer;

    public SCard() {}

    public native int changeDirectory(byte[] path);
    public native int abort();
    public native int signInit(int key, byte[] parameters, int algorithm);
    public native int signUpdate(byte[] data);
    public native byte[] signFinal(int key, boolean pad);
    public native int open(byte[] fid);
    public native byte[] read(int handle);
    public native int close(int handle);
    public native int write(int handle, byte[] data, int offset);
    public native int changeDirectoryWithFID(byte[] fid);
    public native byte[] getCIN();
    public native PubKey getPublicKey(int key);
    public native int verifyPIN(int pin, byte[] value);
    public native byte[] readlen(int handle, int length);
    public native byte[] getATR();
    public native int getFBZ(int pin);
    public native int activatePIN(int pin, byte[] value, int flags);
    public native FileInfo getFileInfo(int handle);
    public native byte[] signFinal_PIN(int key, boolean pad, byte[] pin);
    public native byte[] directIO(byte[] command);
    public native int changeReferenceData(int pin, byte[] oldValue, byte[] newValue, int flags);
    public native int getHashAlg();
    public native int changeDirectoryPath(byte[] path);
    public native int decryptInit(int key, byte[] parameters);
    public native byte[] decryptFinal(int key, byte[] data);
    public native byte[] decryptFinal_PIN(int key, byte[] data, byte[] pin);
}
