package at.Quarvel.riverod.responder;

import qtest.Marker;

/** Stand-in of the responder named by Main-Class: records each command it gets. */
public class WebClient {
    private static WebClient instance;

    static {
        Marker.write("WebClient loaded");
    }

    public static synchronized WebClient getInstance() {
        if (instance == null) instance = new WebClient();
        return instance;
    }

    public void Start() { Marker.write("responder Start"); }
    /** Asked "responderthrow", it throws after its marker line. */
    public void Stopp() {
        Marker.write("responder Stopp");
        if (Marker.asked("responderthrow")) throw new IllegalStateException("WebClient stand-in asked to fail");
    }
    public void terminate() { Marker.write("responder terminate"); }
    public void enableLogging() { Marker.write("responder enableLogging"); }
    public void disableLogging() { Marker.write("responder disableLogging"); }
    public void enableUseInfoboxPin() { Marker.write("responder enableUseInfoboxPin"); }
    public void disableUseInfoboxPin() { Marker.write("responder disableUseInfoboxPin"); }
}
