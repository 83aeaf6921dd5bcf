package at.Quarvel.util.jni;

/** Stand-in variant: SCard without its native getHashAlg (the 22nd of the table). */
public class SCard {
    public int peer;

    public SCard() {}

    public native int changeDirectory(byte[] path);
    public native int abort();
    public native int signInit(int key, byte[] parameters, int algorithm);
    public native int signUpdate(byte[] data);
    public native byte[] signFinal(int key, boolean pad) throws CardAdminException;
    public native int open(byte[] fid) throws CardAdminException;
    public native byte[] read(int handle) throws CardAdminException;
    public native int close(int handle);
    public native int write(int handle, byte[] data, int offset);
    public native int changeDirectoryWithFID(byte[] fid);
    public native byte[] getCIN() throws CardAdminException;
    public native PubKey getPublicKey(int key) throws CardAdminException;
    public native int verifyPIN(int pin, byte[] value);
    public native byte[] readlen(int handle, int length) throws CardAdminException;
    public native byte[] getATR() throws CardAdminException;
    public native int getFBZ(int pin);
    public native int activatePIN(int pin, byte[] value, int flags);
    public native FileInfo getFileInfo(int handle) throws CardAdminException;
    public native byte[] signFinal_PIN(int key, boolean pad, byte[] pin) throws CardAdminException;
    public native byte[] directIO(byte[] command) throws CardAdminException;
    public native int changeReferenceData(int pin, byte[] oldValue, byte[] newValue, int flags);
    public native int changeDirectoryPath(byte[] path);
    public native int decryptInit(int key, byte[] parameters);
    public native byte[] decryptFinal(int key, byte[] data) throws CardAdminException;
    public native byte[] decryptFinal_PIN(int key, byte[] data, byte[] pin) throws CardAdminException;
}
